#include "commandline.h"
#include "devicedescription.h"
#include "identity.h"
#include "updaterepair.h"

#include <QApplication>
#include <libusb.h>

namespace {

// libusb's default context lives longer than everything Qt: the worker threads that use it are
// stopped by the dialog's destruction, which ends before the guard's.
class LibusbGuard
{
public:
    LibusbGuard()
    {
        // A failed start is not fatal here: the first scan reports it to the user.
        libusb_init(nullptr);
        libusb_set_option(nullptr, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_WARNING);
    }
    ~LibusbGuard() { libusb_exit(nullptr); }
    LibusbGuard(const LibusbGuard &) = delete;
    LibusbGuard &operator=(const LibusbGuard &) = delete;
};

} // namespace

int main(int argc, char *argv[])
{
    const LibusbGuard libusb;

    // Takes its own options (-platform, -style, ...) out of argc/argv.
    QApplication app(argc, argv);
    // The images are drawn larger than shown; on a high-density screen they stay sharp.
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication::setOrganizationName(QString::fromLatin1(identity::OrganizationName));
    QApplication::setApplicationName(QString::fromLatin1(identity::ApplicationName));
    QApplication::setOrganizationDomain(QString::fromLatin1(identity::OrganizationDomain));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(identity::DesktopFileName));
    registerUsbMetaTypes();

    const CommandLine line = parseCommandLine(argc, argv);
    UpdateRepair dialog(nullptr, line.filter, line.firmwarePath, line.autoUpdate);
    dialog.show();
    return app.exec();
}
