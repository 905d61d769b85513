#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class RotatedPicture;
class VPNTunnelManager;

// The large control of the home view that shows a connect or disconnect in progress and lets
// the user disconnect by clicking it. The console drives it through display states; any value
// other than those below acts as idle. Its ring turns while it is busy: once per 0.75 s while
// working, once per 3.6 s when connected.
class ConnectButton : public QWidget
{
    Q_OBJECT

public:
    enum State : int {
        idle = 0, // hidden
        connecting = 1,
        connected = 2,
        disconnecting = 3,
        preparing = 9, // the checks before the start
    };

    // The ring's tag says what a click on it does: nothing before the first state and while
    // busy, disconnect when connected. The centre picture always has its own tag.
    enum Tag : int { ringUnset = 0, ringBusy = 1, ringConnected = 2, earthTag = 3 };

    ConnectButton(VPNTunnelManager &tunnel, QWidget *parent = nullptr);

    void setupSubviews();
    void changeConnectState(int state);
    void onTapButtonWithSender(int senderTag);

    RotatedPicture *startButton();
    QPushButton *earthImge();
    QLabel *titleLabel();
    QLabel *subLabel();

    int startButtonTag() const { return m_startButtonTag; }

private:
    void startSpin(const QString &key, int milliseconds);

    VPNTunnelManager &m_tunnel;
    RotatedPicture *m_startButton = nullptr;
    QPushButton *m_earthImge = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_subLabel = nullptr;
    int m_startButtonTag = ringUnset;
};
