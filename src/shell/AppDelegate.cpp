#include "AppDelegate.h"

#include "MainWindowController.h"

#include "api/NetWorkTool.h"
#include "api/QaroShared.h"
#include "console/NodesInfoVC.h"
#include "console/ToastWindowController.h"
#include "pages/ImageLibrary.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/VPNService.h"
#include "tunnel/VPNTunnelManager.h"

#include <QActionGroup>
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {

using namespace Platform::VPNStatus;

// The small coloured dot that says whether the proxy is on.
QIcon statusDot(const QColor &colour)
{
    QPixmap dot(32, 32);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(8, 8, 16, 16));
    painter.end();
    dot.setDevicePixelRatio(2);
    return QIcon(dot);
}

} // namespace

AppDelegate::AppDelegate(VPNTunnelManager &tunnel, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
{
    m_statusItem = new QSystemTrayIcon(this);
    buildStatusMenu();
}

AppDelegate::~AppDelegate()
{
    Platform::NotificationCenter::defaultCenter().removeObserver(this);
    delete m_toastW; // a top-level window of its own, which would outlive the delegate
    delete m_mainWC;
}

QString AppDelegate::localized(const char *key)
{
    return QCoreApplication::translate("AppDelegate", key);
}

void AppDelegate::buildStatusMenu()
{
    m_statusMenu = std::make_unique<QMenu>();
    // The status line does nothing when chosen; it stays enabled so its dot keeps its colour.
    m_switchLabel = m_statusMenu->addAction(localized("Proxy: Off"));
    m_toggleRunning = m_statusMenu->addAction(localized("Turn Proxy On"),
                                              this,
                                              &AppDelegate::powerSwitch);
    m_statusMenu->addSeparator();
    auto *modes = new QActionGroup(m_statusMenu.get());
    m_pacItem = m_statusMenu->addAction(QStringLiteral("智能模式"), this, &AppDelegate::pacMode);
    m_globalItem = m_statusMenu->addAction(QStringLiteral("全局模式"),
                                           this,
                                           &AppDelegate::globalMode);
    for (QAction *item : {m_pacItem.data(), m_globalItem.data()}) {
        item->setCheckable(true);
        modes->addAction(item);
    }
    modes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    m_statusMenu->addSeparator();
    m_statusMenu->addAction(QStringLiteral("打开主界面"), this, &AppDelegate::openMainDialog);
    m_statusMenu->addAction(QStringLiteral("退出"), this, &AppDelegate::quit);
}

void AppDelegate::setStatusIcon(const QString &name)
{
    m_statusIconName = name;
    m_statusItem->setIcon(ImageLibrary::icon(name, QSize(22, 22)));
    m_statusItem->setContextMenu(m_statusMenu.get());
    m_statusItem->setToolTip(QStringLiteral("OrvaneVPN"));
}

void AppDelegate::applicationDidFinishLaunching()
{
    setStatusIcon(QStringLiteral("vpnstate_off"));
    refreshRunModeMenu(); // the mode in force shows from the start, not from the first connect
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_statusItem->show();
    connect(m_statusItem, &QSystemTrayIcon::activated, this, [this](auto reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showMainWindow();
    });

    Platform::NotificationCenter::defaultCenter()
        .addObserver(this,
                     NOTIFY_UPDATE_RUNNING_MODE_MENU,
                     Platform::NotificationCenter::Delivery::MainQueue,
                     [this](const Platform::Notification &) { refreshRunModeMenu(); });

    makeMainWindow();
    m_mainWC->activateWindow();

    QPointer<AppDelegate> self(this);
    m_tunnel.setOnVpnStatusChange([self](int status) {
        if (self)
            self->onTunnelStatus(status);
    });
}

void AppDelegate::makeMainWindow()
{
    QPointer<AppDelegate> self(this);
    m_mainWC = MainWindowController::makeMainWindowController(QStringLiteral("QaroMac"),
                                                              m_tunnel,
                                                              [self] {
                                                                  if (self)
                                                                      self->quit();
                                                              });
    if (const QScreen *screen = QApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_mainWC->move(area.center() - m_mainWC->rect().center());
    }
    m_mainWC->show();
    m_mainWC->raise();
}

bool AppDelegate::applicationShouldHandleReopen()
{
    showMainWindow();
    return true;
}

void AppDelegate::openMainDialog()
{
    showMainWindow();
}

void AppDelegate::showMainWindow()
{
    if (!m_mainWC)
        makeMainWindow();
    if (m_mainWC->isMinimized())
        m_mainWC->showNormal();
    m_mainWC->show();
    m_mainWC->raise();
    m_mainWC->activateWindow();
}

void AppDelegate::quit()
{
    // The tunnel belongs to the system: it stays up after the application has gone.
    Platform::NotificationCenter::defaultCenter().removeObserver(this);
    // Not quit(): that asks every window to close first, and the main window refuses.
    QCoreApplication::exit(0);
}

void AppDelegate::onTunnelStatus(int status)
{
    if (status == invalid || status == disconnected) {
        if (m_lastVpnState == connecting || m_lastVpnState == disconnecting)
            showToast(localized("Proxy: Off"));
    } else if (status == connected) {
        if (m_lastVpnState != connected)
            showToast(localized("Proxy: On"));
    } else {
        Platform::Log::print("onVpnStatusChange:" + std::to_string(status));
    }
    m_lastVpnState = status;

    QPointer<AppDelegate> self(this);
    Platform::mainQueue().async([self] {
        if (!self)
            return;
        self->refreshStatusMenu();
        self->refreshRunModeMenu();
    });
    if (m_mainWC)
        m_mainWC->mainVC()->onVpnStatusChange(status);
}

void AppDelegate::showToast(const QString &text)
{
    // The tunnel's on/off gives way to a message of the console's still on screen, which often
    // says why the tunnel stopped; the tray and the console show the state anyway.
    if (ToastWindowController *other = ToastWindowController::onScreen(); other && other != m_toastW)
        return;
    if (m_toastW)
        m_toastW->close();
    m_toastW = ToastWindowController::present(text);
}

void AppDelegate::refreshStatusMenu()
{
    switch (m_lastVpnState) {
    case invalid:
    case disconnected:
        m_switchLabel->setText(localized("Proxy: Off"));
        m_switchLabel->setIcon(statusDot(QColor(0xD9, 0x53, 0x4F)));
        m_toggleRunning->setText(localized("Turn Proxy On"));
        m_toggleRunning->setEnabled(true);
        setStatusIcon(QStringLiteral("vpnstate_off"));
        return;
    case connecting:
        m_switchLabel->setText(QStringLiteral("代理：连接中..."));
        m_toggleRunning->setText(QStringLiteral("正在连接"));
        m_toggleRunning->setEnabled(false);
        return;
    case connected:
        m_switchLabel->setText(localized("Proxy: On"));
        m_switchLabel->setIcon(statusDot(QColor(0x3C, 0xB3, 0x71)));
        m_toggleRunning->setText(localized("Turn Proxy Off"));
        m_toggleRunning->setEnabled(true);
        setStatusIcon(QStringLiteral("vpnstate_on"));
        return;
    case disconnecting:
        m_switchLabel->setText(QStringLiteral("代理：正在断开..."));
        m_toggleRunning->setText(QStringLiteral("正在断开"));
        m_toggleRunning->setEnabled(false);
        return;
    default:
        return; // reasserting: the menu keeps what it showed
    }
}

void AppDelegate::refreshRunModeMenu()
{
    const std::string mode = QaroShared::shared().tunMode();
    m_pacItem->setChecked(false);
    m_globalItem->setChecked(false);
    if (mode == "rule")
        m_pacItem->setChecked(true);
    else if (mode == "global")
        m_globalItem->setChecked(true);
}

void AppDelegate::powerSwitch()
{
    switch (m_lastVpnState) {
    case invalid:
    case disconnected:
        if (m_mainWC)
            m_mainWC->mainVC()->beginConnect();
        return;
    case connected: {
        QPointer<AppDelegate> self(this);
        m_tunnel.stopVPN([self](bool, const std::optional<std::string> &) {
            Platform::mainQueue().async([self] {
                if (self)
                    self->refreshStatusMenu();
            });
        });
        return;
    }
    default:
        return;
    }
}

void AppDelegate::setMode(const char *mode, const char *message)
{
    QaroShared::shared().setValue(QaroShared::tunModeKey, std::string(mode));
    m_tunnel.sendMessageToProvider(message);
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_UPDATE_RUNNING_MODE_MENU);
}

void AppDelegate::pacMode()
{
    setMode("rule", "tunMode.rule");
}

void AppDelegate::globalMode()
{
    setMode("global", "tunMode.global");
}
