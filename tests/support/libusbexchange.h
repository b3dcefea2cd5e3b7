#pragma once

// Questions asked of the real libusb (tests/umockdev/tst_usbfsrules, libusb 1.0.26's Linux
// backend on emulated usbfs devices) and of the emulation of virtual/bus (tests/virtual) alike:
// the emulation is right where both give the same answers. Only libusb calls are made here; the
// two steps that act on the bus itself come from the caller.

#include "faults.h"
#include "norbydevice.h"
#include "usbhandle.h"

#include <QtTest>
#include <libusb.h>

#include <functional>
#include <optional>

namespace testsupport {

// Each row is a short exchange with one device and what libusb returned, in order. "driver"
// (a kernel driver binds interface 0), "unplug" and the faults of exchangeFault are the bus's
// steps and return nothing.
inline void libusbExchangeRows()
{
    QTest::addColumn<QString>("exchange");
    QTest::addColumn<QList<int>>("results");
    const int busy = LIBUSB_ERROR_BUSY, notFound = LIBUSB_ERROR_NOT_FOUND;
    const int noDevice = LIBUSB_ERROR_NO_DEVICE;
    // A kernel driver on interface 0 keeps it: usbfs refuses the claim, and will not bind the
    // driver again while it is bound.
    QTest::newRow("claim while a kernel driver holds it") << "driver claim" << QList<int> {busy};
    QTest::newRow("claim while another handle holds it") << "other claim" << QList<int> {0, busy};
    QTest::newRow("attach while the kernel driver holds it")
        << "driver attach" << QList<int> {busy};
    QTest::newRow("detach, claim, release, attach")
        << "driver detach claim active release attach active" << QList<int> {0, 0, 0, 0, 0, 1};
    // usbfs takes a standard or class request to an interface only from a file holding it: a
    // free one is claimed on the way, one a kernel driver keeps refuses it (the submission's
    // EBUSY is libusb's I/O error). Vendor requests to the device pass either way.
    QTest::newRow("class request beside a kernel driver")
        << "driver class transfer" << QList<int> {LIBUSB_ERROR_IO, 1};
    QTest::newRow("class request claims a free interface")
        << "class other" << QList<int> {LIBUSB_ERROR_PIPE, busy};
    QTest::newRow("attach with no driver to bind")
        << "claim release attach" << QList<int> {0, 0, notFound};
    // libusb's Linux backend sends at most 4096 bytes of data in one control transfer (an EDID
    // of 32 blocks); longer ones never reach the device.
    QTest::newRow("EDID of 32 blocks") << "edid edid4096 end" << QList<int> {0, 4096, 0};
    QTest::newRow("EDID of 33 blocks")
        << "edid edid4224 end" << QList<int> {0, LIBUSB_ERROR_INVALID_PARAM, 0};
    QTest::newRow("unplugged while open")
        << "claim unplug transfer release attach" << QList<int> {0, noDevice, noDevice, noDevice};
    // One fault vocabulary on both buses: a stall set on one request, and a device that leaves
    // while a request is in flight.
    QTest::newRow("stall fault") << "claim stall transfer transfer"
                                 << QList<int> {0, LIBUSB_ERROR_PIPE, 1};
    QTest::newRow("leaves during a request") << "claim leave transfer" << QList<int> {0, noDevice};
    // A request nobody answers ends at the caller's timeout, and the next one goes through.
    QTest::newRow("never answers")
        << "claim hold transfer transfer" << QList<int> {0, LIBUSB_ERROR_TIMEOUT, 1};
    // A string descriptor is UTF-16: libusb puts one '?' for each code unit beyond ASCII, and
    // cuts the text to the buffer. "string<N>" reads the product string (exchangeDevice's) into
    // N bytes: its length, its text checked against "Caf? A??B".
    QTest::newRow("two-byte character") << "string8" << QList<int> {7};
    QTest::newRow("outside the basic plane") << "string32" << QList<int> {9};
}

// The device of the exchange, with a product string of a two-byte character and one outside
// the basic plane: "Caf\u00e9 A\U0001F3A5B".
inline std::shared_ptr<vdev::NorbyDevice> exchangeDevice()
{
    vdev::NorbyDevice::Config config;
    config.product = "Caf\xc3\xa9 A\xf0\x9f\x8e\xa5"
                     "B";
    return std::make_shared<vdev::NorbyDevice>(config);
}

// The fault a bus step of the rows above sets on the ping (0xC8): "stall" stalls its next
// occurrence, "leave" takes the device off the bus during it, "hold" leaves it unanswered.
inline std::optional<vcore::RequestFault> exchangeFault(const QString &step)
{
    if (step == "stall")
        return vcore::RequestFault {0xC8, 1, 1, LIBUSB_ERROR_PIPE};
    if (step == "leave")
        return vcore::RequestFault {0xC8, 1, 1, vcore::Unplug};
    if (step == "hold")
        return vcore::RequestFault {0xC8, 1, 1, vcore::Hold};
    return std::nullopt;
}

// Runs the current row's exchange on `device`, handing "driver" and "unplug" to `busStep`.
inline void checkLibusbExchange(
    libusb_device *device, const std::function<void(const QString &)> &busStep)
{
    QFETCH(QString, exchange);
    UsbHandle handle;
    UsbHandle other;
    QCOMPARE(handle.open(device), 0);
    QList<int> results;
    const auto transfer = [&handle](uint8_t type, uint8_t request, uint16_t length) {
        std::vector<uint8_t> data(length, 0);
        return libusb_control_transfer(
            handle.get(), type, request, 0, 0, length ? data.data() : nullptr, length, 1000);
    };
    for (const QString &step : exchange.split(' ')) {
        if (step == "driver" || step == "unplug" || exchangeFault(step))
            busStep(step);
        else if (step == "other")
            results << (other.open(device) != 0 ? LIBUSB_ERROR_OTHER
                                                : libusb_claim_interface(other.get(), 0));
        else if (step == "claim")
            results << libusb_claim_interface(handle.get(), 0);
        else if (step == "release")
            results << libusb_release_interface(handle.get(), 0);
        else if (step == "attach")
            results << libusb_attach_kernel_driver(handle.get(), 0);
        else if (step == "detach")
            results << libusb_detach_kernel_driver(handle.get(), 0);
        else if (step == "active")
            results << libusb_kernel_driver_active(handle.get(), 0);
        else if (step == "edid")
            results << transfer(0x40, 0xCF, 0);
        else if (step.startsWith("edid"))
            results << transfer(0x40, 0xD2, uint16_t(step.mid(4).toInt()));
        else if (step == "end")
            results << transfer(0x40, 0xD4, 0);
        else if (step == "transfer")
            results << transfer(0xC0, 0xC8, 1);
        else if (step == "class") // a video class GET_CUR to interface 0
            results << transfer(0xA1, 0x81, 1);
        else if (step.startsWith("string")) {
            std::vector<unsigned char> ascii(step.mid(6).toUInt(), 0xFF);
            results << libusb_get_string_descriptor_ascii(
                handle.get(), vdev::NorbyDevice::ProductIndex, ascii.data(), int(ascii.size()));
            QCOMPARE(
                QByteArray(reinterpret_cast<const char *>(ascii.data()), qMax(results.last(), 0)),
                QByteArray("Caf? A??B").left(results.last()));
        }
    }
    if (other)
        libusb_release_interface(other.get(), 0);
    QTEST(results, "results");
}

} // namespace testsupport
