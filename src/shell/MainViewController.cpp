#include "MainViewController.h"

#include "PrivilegedScriptRunner.h"

#include "pages/BottomLeftFrame.h"
#include "platform/Bundle.h"
#include "platform/Log.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

constexpr int viewWidth = 920;
constexpr int viewHeight = 580;

std::string joined(const std::vector<std::string> &command)
{
    std::string text;
    for (const auto &argument : command)
        text += (text.empty() ? "" : " ") + argument;
    return text;
}

} // namespace

MainViewController::MainViewController(const Platform::Bundle &bundle,
                                       PrivilegedScriptRunner &runner,
                                       QWidget *parent)
    : QWidget(parent)
    , m_bundle(bundle)
    , m_runner(runner)
{
    loadView();
    viewDidLoad();
}

void MainViewController::loadView()
{
    resize(viewWidth, viewHeight);
}

void MainViewController::viewDidLoad()
{
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("MainViewController { background-color: green; }"));
    auto *button = new QPushButton(QStringLiteral("拷贝"), this);
    button->setStyleSheet(QStringLiteral("QPushButton { border: 1px solid red; }"));
    button->setGeometry(bottomLeftFrame(QRectF(100, 100, 100, 100), viewHeight));
    connect(button, &QPushButton::clicked, this, &MainViewController::tapButton);
}

void MainViewController::tapButton()
{
    const auto script = m_bundle.pathForResource("install_test.sh");
    if (!script) {
        showAlert(QStringLiteral("应用缺少安装脚本 install_test.sh"));
        return;
    }
    runShellScript({"bash", script->string()},
                   true,
                   [](bool ok, const std::optional<std::string> &output) {
                       Platform::Log::system(Platform::LogLevel::Default,
                                             "MainViewController",
                                             std::string(ok ? "true" : "false") + ","
                                                 + output.value_or("nil"));
                   });
}

void MainViewController::runShellScript(const std::vector<std::string> &command,
                                        bool administrator,
                                        Completion completion)
{
    QPointer<MainViewController> self(this);
    m_runner.run(command,
                 administrator,
                 [self, command, completion](const PrivilegedScriptRunner::Outcome &outcome) {
                     if (!self)
                         return;
                     if (!outcome.ok) {
                         self->showAlert(QString::fromStdString(outcome.error));
                         Platform::Log::print("执行 \n" + joined(command) + "\n命令出错:");
                         Platform::Log::print(outcome.error);
                         completion(false, std::nullopt);
                         return;
                     }
                     self->showAlert(QStringLiteral("Success!"));
                     completion(true, outcome.output);
                 });
}

void MainViewController::showAlert(const QString &text)
{
    if (m_alert)
        m_alert->close();
    auto *alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setText(text);
    alert->setInformativeText(text);
    alert->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    m_alert = alert;
    alert->open();
}
