#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class NodesInfoVC;
class VPNTunnelManager;

namespace Ui {
class MainWindowController;
}

// The application's one main window: frameless, 920 x 580, not resizable, moved by dragging its
// background, with the console as its content. The window manager cannot close it; the
// console's own close button hides it (or quits, where there is no tray to come back from).
class MainWindowController : public QWidget
{
    Q_OBJECT

public:
    // quitApplication: what the close button does when the desktop has no tray.
    static MainWindowController *makeMainWindowController(const QString &title,
                                                          VPNTunnelManager &tunnel,
                                                          std::function<void()> quitApplication);
    ~MainWindowController() override;

    NodesInfoVC *mainVC() const { return m_mainVC; }

    // Hides the window; the application keeps running.
    void closeWindow();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindowController(VPNTunnelManager &tunnel, std::function<void()> quitApplication);

    std::unique_ptr<Ui::MainWindowController> m_ui;
    NodesInfoVC *m_mainVC = nullptr;
    std::function<void()> m_quitApplication;
    bool m_closing = false;
};
