#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class RotatedPicture;
class VPNTunnelManager;

// The large control of the home view that shows a connect or disconnect in progress and lets
// the user disconnect by clicking it. The console drives it through display states: 0 idle
// (hidden), 9 preparing, 1 connecting, 2 connected, 3 disconnecting; other values act as 0.
// Its ring turns while it is busy: once per 0.75 s while working, once per 3.6 s when connected.
class ConnectButton : public QWidget
{
    Q_OBJECT

public:
    ConnectButton(VPNTunnelManager &tunnel, QWidget *parent = nullptr);

    void setupSubviews();
    void changeConnectState(int state);
    void onTapButtonWithSender(int senderTag);

    RotatedPicture *startButton();
    QPushButton *earthImge();
    QLabel *titleLabel();
    QLabel *subLabel();

    // 0 before the first state, 1 while a click does nothing, 2 when a click disconnects.
    int startButtonTag() const { return m_startButtonTag; }

private:
    void startSpin(const QString &key, int milliseconds);

    VPNTunnelManager &m_tunnel;
    RotatedPicture *m_startButton = nullptr;
    QPushButton *m_earthImge = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_subLabel = nullptr;
    int m_startButtonTag = 0;
};
