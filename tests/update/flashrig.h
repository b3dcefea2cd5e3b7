#pragma once

#include "buschecks.h"
#include "deviceopen.h"
#include "flashcontext.h"
#include "logcapture.h"
#include "norbydevice.h"
#include "ziparchive.h"
#include "zippackage.h"

#include <QRegularExpression>
#include <QtTest>

Q_DECLARE_METATYPE(vusb::RequestFault)

namespace flashtest {

using Faults = QVector<vusb::RequestFault>;

inline QByteArray image(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 31 + i / 251);
    return bytes;
}

// A stored member whose bytes no longer match its CRC, which libzip finds at its end.
inline const QByteArray damaged = image(8192).replace(100, 4, "MARK");

inline QByteArray bytesOf(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

// A device in its application firmware, opened as the update opens it, a package holding
// `data` as `member` (none when `data` is null), and what a flashing step reports.
struct Rig {
    Rig(const std::string &member, const QByteArray &data, const Faults &faults = {})
        : device(vdev::NorbyDevice::make(0x3620, vdev::NorbyState::Application))
    {
        node = bus.plug(bus.addRootHub(1), 1, device);
        if (!data.isNull())
            package.add(member, data);
        const QString path = package.write();
        if (data == damaged)
            testsupport::patchFile(path, "MARK", "MARX");
        archive = ZipArchive(path.toStdString());
        opened = OpenedDevice::open(testsupport::describe(node));
        context.handle = opened.handle();
        context.progress
            = [this](int percent) { progress.emplace_back(bus.transfers(node).size(), percent); };
        context.error = [this](const QString &text) { errors << text; };
        bus.clearTransfers();
        for (const vusb::RequestFault &fault : faults)
            bus.failRequest(node, fault);
    }

    // The transfers as request codes, "c2:4096" for one that sent data ("c2=<hex>" for up to 12
    // bytes), "c4x3" for a run of one request, each progress value where it came; "!" marks a
    // transfer off the conventions (type, value, index, length, timeout).
    QString trace(unsigned timeout = ControlRequest::TimeoutMs) const
    {
        QStringList out;
        const std::vector<vusb::TransferRecord> log = bus.transfers(node);
        auto mark = progress.begin();
        for (std::size_t i = 0; i <= log.size(); ++i) {
            for (; mark != progress.end() && mark->first == i; ++mark)
                out << QString::number(mark->second);
            if (i == log.size())
                break;
            const vusb::TransferRecord &t = log[i];
            const bool poll = t.request == 0xC4 || t.request == 0xC8;
            QString token = QString::number(t.request, 16);
            if (!poll && t.length > 0) // a frame's header or trailer in full
                token += t.length > 12 ? ':' + QString::number(t.length)
                                       : '=' + bytesOf(t.data).toHex();
            if (t.requestType != (poll ? 0xC0 : 0x40) || t.value != 0 || t.index != 0
                || t.length != (poll ? 1 : t.data.size()) || t.timeout != timeout)
                token += '!';
            const int run = out.isEmpty() ? 0 : out.last().section('x', 1).toInt();
            if (!out.isEmpty() && out.last().section('x', 0, 0) == token)
                out.last() = token + 'x' + QString::number(std::max(run, 1) + 1);
            else
                out << token;
        }
        return out.join(' ');
    }

    vusb::Bus &bus = vusb::Bus::instance();
    testsupport::LogCapture log;
    std::shared_ptr<vdev::NorbyDevice> device;
    vusb::NodeId node = -1;
    testsupport::ZipPackage package;
    ZipArchive archive;
    OpenedDevice opened;
    QStringList errors;
    std::vector<std::pair<std::size_t, int>> progress; // after how many transfers, value
    FlashContext context;
};

// Every test here starts from an empty bus and ends with nothing leaked.
class BusTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { vusb::Bus::instance().reset(); }
    void cleanup()
    {
        VERIFY_BUS_CLEAN();
        vusb::Bus::instance().reset();
    }
};

inline bool matches(const QString &trace, const QString &pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(trace).hasMatch();
}

} // namespace flashtest
