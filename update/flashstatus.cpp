#include "flashstatus.h"

#include "controlrequest.h"
#include "debuglog.h"
#include "usberrortext.h"

#include <QCoreApplication>
#include <QDebug>

int waitFlashReady(const FlashContext &context, FlashTarget target)
{
    const bool fx3 = target == FlashTarget::Fx3;
    const uint8_t request = fx3 ? FlashRequest::Fx3FlashStatus : FlashRequest::FpgaFlashStatus;
    // The device answers every poll at once, so the polls follow each other without a pause;
    // only the overall deadline keeps a flash that never comes back from holding the update.
    const auto deadline = std::chrono::steady_clock::now() + context.readyTimeout;
    for (;;) {
        // A status answer without data does not touch the byte; cleared, it reads as busy.
        uint8_t status = 0;
        int rc = libusb_control_transfer(context.handle, ControlRequest::VendorIn, request, 0, 0,
            &status, 1, ControlRequest::TimeoutMs);
        if (rc >= 0 && status != 0)
            return 0;
        if (rc >= 0 && std::chrono::steady_clock::now() >= deadline) {
            qCDebug(defaultLog).nospace() << (fx3 ? "FX3" : "FPGA") << " flash still busy after "
                                          << context.readyTimeout.count() << " ms";
            rc = LIBUSB_ERROR_TIMEOUT;
        }
        if (rc < 0) {
            context.error(
                QCoreApplication::translate(
                    "Worker", "Error: failed to request flash status for %2: %1")
                    .arg(usbErrorName(rc), fx3 ? QStringLiteral("FX3") : QStringLiteral("FPGA")));
            return rc;
        }
    }
}
