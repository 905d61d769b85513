#pragma once

#include "tunnel/VPNTunnelManager.h"

#include <QMessageBox>
#include <QPointer>

// The alert that tells the user where to allow the tunnel extension.
class ApprovalAlertDialog final : public VPNTunnelManager::ApprovalAlert
{
public:
    void show(const std::string &message,
              const std::string &informativeText,
              const std::string &button) override;

    QMessageBox *shown() const { return m_box; }

private:
    QPointer<QMessageBox> m_box;
};
