#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class PrivilegedScriptRunner;

namespace Platform {
class Bundle;
}

// A small view that runs the bundle's installer script ("install_test.sh") with administrator
// privileges and reports the outcome in alerts.
class MainViewController : public QWidget
{
    Q_OBJECT

public:
    using Completion = std::function<void(bool ok, const std::optional<std::string> &output)>;

    MainViewController(const Platform::Bundle &bundle,
                       PrivilegedScriptRunner &runner,
                       QWidget *parent = nullptr);

    void loadView();
    void viewDidLoad();
    void tapButton();
    void runShellScript(const std::vector<std::string> &command,
                        bool administrator,
                        Completion completion);
    void showAlert(const QString &text);

    QMessageBox *alert() const { return m_alert; }

private:
    const Platform::Bundle &m_bundle;
    PrivilegedScriptRunner &m_runner;
    QPointer<QMessageBox> m_alert;
};
