// The OrvaneVPN client: a tray icon with its menu and one main window.

#include "AppDelegate.h"
#include "ApprovalAlertDialog.h"
#include "QtMainQueue.h"
#include "SingleInstance.h"
#include "StartupTrace.h"

#include "pages/TextFieldShortcuts.h"
#include "platform/Bundle.h"
#include "tunnel/VPNTunnelManager.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("OrvaneVPN"));
    // Lets the desktop match the window to the installed .desktop entry and its icon.
    application.setDesktopFileName(QStringLiteral("com.qaromac.wv"));
    application.setQuitOnLastWindowClosed(false); // the tray keeps it running

    QtMainQueue mainQueue(&application);
    Platform::installMainQueue(&mainQueue);

    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (instance.askRunningInstanceToReopen()) {
        Platform::installMainQueue(nullptr);
        return 0;
    }

    QTranslator translator;
    const auto translations = Platform::Bundle::main().resourcePath() / "translations";
    if (translator.load(QLocale::system(),
                        QStringLiteral("orvanevpn"),
                        QStringLiteral("_"),
                        QString::fromStdString(translations.string())))
        application.installTranslator(&translator);
    TextFieldShortcuts::install();

    VPNTunnelManager &tunnel = VPNTunnelManager::shared();
    tunnel.setApprovalAlert(std::make_shared<ApprovalAlertDialog>());

    int result = 0;
    {
        AppDelegate delegate(tunnel);
        instance.listen([&delegate] { delegate.applicationShouldHandleReopen(); });
        delegate.applicationDidFinishLaunching();
        StartupTrace::watch(delegate.mainWC());
        result = application.exec();
    }
    Platform::installMainQueue(nullptr);
    return result;
}
