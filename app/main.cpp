#include "commandline.h"
#include "devicedescription.h"
#include "identity.h"
#include "libusbguard.h"
#include "terminationsignals.h"
#include "translations.h"
#include "updaterepair.h"

#include <QApplication>
#include <libusb.h>

int main(int argc, char *argv[])
{
    const LibusbGuard libusb;

    // Qt reads these when the application object is made: on a high-density screen the window
    // scales by the screen's factor, and the images, drawn larger than shown, stay sharp.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    // Takes its own options (-platform, -style, ...) out of argc/argv.
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(identity::OrganizationName));
    QApplication::setApplicationName(QString::fromLatin1(identity::ApplicationName));
    QApplication::setOrganizationDomain(QString::fromLatin1(identity::OrganizationDomain));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(identity::DesktopFileName));
    installTranslations(app);
    registerUsbMetaTypes();

    const CommandLine line = parseCommandLine(argc, argv);
    UpdateRepair dialog(nullptr, line.filter, line.firmwarePath, line.autoUpdate);
    dialog.setFirmwareFile(line.firmwareFile);
    // A session that ends (logout, shutdown, a closed terminal) sends these.
    const TerminationSignals sessionEnd;
    QObject::connect(
        &sessionEnd, &TerminationSignals::received, &dialog, &UpdateRepair::endSession);
    dialog.show();
    return app.exec();
}
