#pragma once

#include "TaggedButtons.h"

#include <QWidget>

class ConnectButton;
class QRadioButton;
class VPNTunnelManager;

// The console's home view: the start control and the connect widget in its place, the line
// with the chosen node, the two routing-mode buttons, and the tab bar.
class ConsoleHomeView : public QWidget
{
    Q_OBJECT

public:
    ConsoleHomeView(TapHandler tap, VPNTunnelManager &tunnel, QWidget *parent = nullptr);

    void build();

    QPushButton *startProxyButton();
    ConnectButton *connectButton();
    QPushButton *nodeRemarkLabel();
    QRadioButton *modeButton(int tag);

private:
    TapHandler m_tap;
    VPNTunnelManager &m_tunnel;
    QPushButton *m_startProxyButton = nullptr;
    ConnectButton *m_connectButton = nullptr;
    QPushButton *m_nodeRemarkLabel = nullptr;
    QRadioButton *m_ruleButton = nullptr;
    QRadioButton *m_globalButton = nullptr;
};
