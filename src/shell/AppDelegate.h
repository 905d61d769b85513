#pragma once

#include "MainWindowController.h"

#include "console/ToastWindowController.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <string>

class QAction;
class QMenu;
class QSystemTrayIcon;
class VPNTunnelManager;

// The root of the application: the tray icon and its menu, the main window, the application's
// toast, and the one subscriber of the tunnel's status, which it fans out to the menu and the
// console.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(VPNTunnelManager &tunnel, QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    // A second launch: the window comes back, whatever was visible.
    bool applicationShouldHandleReopen();

    void openMainDialog();
    void quit();
    void powerSwitch();
    void pacMode();
    void globalMode();
    void refreshStatusMenu();
    void refreshRunModeMenu();
    void onTunnelStatus(int status);
    void showToast(const QString &text);
    void showMainWindow();

    // The text of a menu key in the user's language; the key itself when there is none.
    static QString localized(const char *key);

    QMenu *statusMenu() const { return m_statusMenu.get(); }
    QAction *switchLabel() const { return m_switchLabel; }
    QAction *toggleRunning() const { return m_toggleRunning; }
    QAction *pacItem() const { return m_pacItem; }
    QAction *globalItem() const { return m_globalItem; }
    QSystemTrayIcon *statusItem() const { return m_statusItem; }
    QString statusIconName() const { return m_statusIconName; }
    MainWindowController *mainWC() const { return m_mainWC; }
    ToastWindowController *toastW() const { return m_toastW; }
    int lastVpnState() const { return m_lastVpnState; }

private:
    void buildStatusMenu();
    void setStatusIcon(const QString &name);
    void makeMainWindow();
    void setMode(const char *mode, const char *message);

    VPNTunnelManager &m_tunnel;
    std::unique_ptr<QMenu> m_statusMenu;
    QPointer<QAction> m_switchLabel;
    QPointer<QAction> m_toggleRunning;
    QPointer<QAction> m_pacItem;
    QPointer<QAction> m_globalItem;
    QSystemTrayIcon *m_statusItem = nullptr;
    QString m_statusIconName;
    QPointer<MainWindowController> m_mainWC;
    QPointer<ToastWindowController> m_toastW;
    int m_lastVpnState = 0;
};
