#include "configdevicetask.h"

#include "controlrequest.h"
#include "deviceopen.h"

#include <libusb.h>

namespace {

class Worker : public QObject
{
    Q_OBJECT

signals:
    void getComplete(uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size);
    void setComplete(uint8_t request);
    void error(uint8_t request, const QString &text);

public slots:
    void getConfigDeviceData(const DeviceDescription &desc, uint8_t request,
        const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value);
    void setConfigDeviceData(const DeviceDescription &desc, uint8_t request,
        const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value);

private:
    QString accessText() const
    {
        return tr("Cannot access USB. Administrative rights may be required.");
    }
};

void Worker::getConfigDeviceData(const DeviceDescription &desc, uint8_t request,
    const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value)
{
    OpenedDevice device = OpenedDevice::open(desc);
    if (!device) {
        emit error(request, accessText());
        emit getComplete(request, ConfigDeviceDataPtr(), 0);
        return;
    }
    // Without a buffer the library would write the answer through a null pointer.
    const int rc = (ptr || size == 0)
        ? libusb_control_transfer(device.handle(), ControlRequest::VendorIn, request, value, index,
            ptr.data(), size, ControlRequest::TimeoutMs)
        : int(LIBUSB_ERROR_INVALID_PARAM);
    device.close();
    if (rc < 0) {
        emit error(request,
            tr("Error retreiving config device data: req=%1, status: %2")
                .arg(QString::number(request), QString::fromUtf8(libusb_strerror(rc))));
        emit getComplete(request, ConfigDeviceDataPtr(), 0);
        return;
    }
    // A short answer leaves the rest of the buffer zero; the requester sees the block size.
    emit getComplete(request, ptr, size);
}

void Worker::setConfigDeviceData(const DeviceDescription &desc, uint8_t request,
    const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value)
{
    OpenedDevice device = OpenedDevice::open(desc);
    if (!device) {
        // Completed as a read: the requesters treat a null read completion as "no answer"
        // and become ready again on it.
        emit error(request, accessText());
        emit getComplete(request, ConfigDeviceDataPtr(), 0);
        return;
    }
    const int rc = (ptr || size == 0)
        ? libusb_control_transfer(device.handle(), ControlRequest::VendorOut, request, value, index,
            ptr.data(), size, ControlRequest::TimeoutMs)
        : int(LIBUSB_ERROR_INVALID_PARAM);
    if (rc < 0)
        emit error(request,
            tr("Error setting device flags: %1").arg(QString::fromUtf8(libusb_strerror(rc))));
    device.close();
    emit setComplete(request);
}

} // namespace

ConfigDeviceTask::ConfigDeviceTask(QObject *parent)
    : ConfigDeviceBase(parent)
{
    auto *worker = new Worker;
    worker->moveToThread(&thread_);
    worker_ = worker;
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &ConfigDeviceBase::setConfigDeviceData, worker, &Worker::setConfigDeviceData);
    connect(this, &ConfigDeviceBase::getConfigDeviceData, worker, &Worker::getConfigDeviceData);
    connect(worker, &Worker::setComplete, this, &ConfigDeviceBase::setRequestComplete);
    connect(worker, &Worker::getComplete, this, &ConfigDeviceBase::getRequestComplete);
    connect(worker, &Worker::error, this, &ConfigDeviceBase::error);
    thread_.start(QThread::InheritPriority);
}

ConfigDeviceTask::~ConfigDeviceTask()
{
    thread_.quit();
    thread_.wait();
}

#include "configdevicetask.moc"
