#include "configdevicetask.h"

#include "accesshinttext.h"
#include "controlrequest.h"
#include "deviceopen.h"
#include "deviceplacelock.h"
#include "placebusytext.h"
#include "usberrortext.h"

#include <libusb.h>

#include <chrono>
#include <optional>

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
    // The window's text, and on the next line what the platform can tell of the cause.
    QString accessText(const DeviceDescription &desc) const
    {
        return withAccessHint(
            tr("Cannot access USB. Administrative rights may be required."), desc);
    }
};

// A request waits this long for another holder of the device's place (an update ends the wait
// at once): a probe or another request holds it for a few transfers.
constexpr std::chrono::milliseconds placeWait {1500};

// One request on the device, opened for it alone and closed again before the result goes out:
// the engine never keeps a device open between requests. Nothing when the place is busy (then
// `busy` says why) or the device cannot be opened.
std::optional<int> transferOnce(const DeviceDescription &desc, uint8_t requestType, uint8_t request,
    const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value, QString &busy)
{
    DevicePlaceLock place;
    if (place.acquire(DevicePlaceLock::placeName(desc.busNumber, desc.portPath),
            DevicePlaceLock::Request, placeWait)
        == DevicePlaceLock::Outcome::Busy) {
        busy = placeBusyText(place.holder());
        return std::nullopt;
    }
    OpenedDevice device = OpenedDevice::openForRequests(desc);
    if (!device)
        return std::nullopt;
    // Without a buffer the library would read or write through a null pointer.
    if (!ptr && size != 0)
        return int(LIBUSB_ERROR_INVALID_PARAM);
    return libusb_control_transfer(device.handle(), requestType, request, value, index, ptr.data(),
        size, ControlRequest::TimeoutMs);
}

void Worker::getConfigDeviceData(const DeviceDescription &desc, uint8_t request,
    const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value)
{
    QString busy;
    const std::optional<int> rc
        = transferOnce(desc, ControlRequest::VendorIn, request, ptr, size, index, value, busy);
    if (!rc) {
        emit error(request, busy.isEmpty() ? accessText(desc) : busy);
        emit getComplete(request, ConfigDeviceDataPtr(), 0);
        return;
    }
    if (*rc < 0) {
        emit error(request,
            tr("Error retreiving config device data: req=%1, status: %2")
                .arg(QString::number(request), usbErrorText(*rc)));
        emit getComplete(request, ConfigDeviceDataPtr(), 0);
        return;
    }
    // A short answer leaves the rest of the buffer zero; the requester sees the block size.
    emit getComplete(request, ptr, size);
}

void Worker::setConfigDeviceData(const DeviceDescription &desc, uint8_t request,
    const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value)
{
    QString busy;
    const std::optional<int> rc
        = transferOnce(desc, ControlRequest::VendorOut, request, ptr, size, index, value, busy);
    if (!rc) {
        // Completed as a read: the requesters treat a null read completion as "no answer"
        // and become ready again on it.
        emit error(request, busy.isEmpty() ? accessText(desc) : busy);
        emit getComplete(request, ConfigDeviceDataPtr(), 0);
        return;
    }
    if (*rc < 0)
        emit error(request, tr("Error setting device flags: %1").arg(usbErrorText(*rc)));
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
