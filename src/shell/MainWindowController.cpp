#include "MainWindowController.h"

#include "ui_MainWindowController.h"

#include "console/NodesInfoVC.h"
#include "pages/AccessibleFactory.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QSystemTrayIcon>

MainWindowController *MainWindowController::makeMainWindowController(
    const QString &title, VPNTunnelManager &tunnel, std::function<void()> quitApplication)
{
    auto *controller = new MainWindowController(tunnel, std::move(quitApplication));
    controller->setWindowTitle(title);
    controller->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    controller->setFixedSize(NodesInfoVC::viewWidth, NodesInfoVC::viewHeight);
    return controller;
}

namespace {

// A plain widget as a window is a "filler" to screen readers; as a frame its title is announced.
class MainWindowAccessible : public QAccessibleWidget
{
public:
    explicit MainWindowAccessible(MainWindowController *window)
        : QAccessibleWidget(window, QAccessible::Window)
    { }
};

} // namespace

MainWindowController::MainWindowController(VPNTunnelManager &tunnel,
                                           std::function<void()> quitApplication)
    : m_ui(std::make_unique<Ui::MainWindowController>())
    , m_quitApplication(std::move(quitApplication))
{
    installAccessibleInterface<MainWindowController, MainWindowAccessible>();
    m_ui->setupUi(this);
    m_mainVC = new NodesInfoVC(tunnel, m_ui->contentView);
    connect(m_mainVC, &NodesInfoVC::closeRequested, this, [this] {
        if (QSystemTrayIcon::isSystemTrayAvailable() || !m_quitApplication)
            closeWindow();
        else
            m_quitApplication();
    });
    connect(m_mainVC, &NodesInfoVC::minimiseRequested, this, &QWidget::showMinimized);
}

MainWindowController::~MainWindowController() = default;

void MainWindowController::closeWindow()
{
    m_closing = true;
    close();
    m_closing = false;
}

void MainWindowController::closeEvent(QCloseEvent *event)
{
    if (m_closing)
        event->accept();
    else
        event->ignore(); // the user closes the window with its own button only
}
