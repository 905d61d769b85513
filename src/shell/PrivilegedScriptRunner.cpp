#include "PrivilegedScriptRunner.h"

#include <QProcess>

PrivilegedScriptRunner::PrivilegedScriptRunner(std::string program, QObject *parent)
    : QObject(parent)
    , m_program(std::move(program))
{ }

void PrivilegedScriptRunner::run(const std::vector<std::string> &command,
                                 bool administrator,
                                 Completion completion)
{
    QStringList arguments;
    for (const auto &argument : command)
        arguments << QString::fromStdString(argument);
    QString program = QString::fromStdString(m_program);
    if (!administrator) {
        program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    }

    auto *process = new QProcess(this);
    connect(process,
            &QProcess::errorOccurred,
            this,
            [process, completion](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return;
                completion({false,
                            {},
                            "无法启动 " + process->program().toStdString() + "："
                                + process->errorString().toStdString()});
                process->deleteLater();
            });
    connect(process,
            &QProcess::finished,
            this,
            [process, completion](int exitCode, QProcess::ExitStatus status) {
                const std::string output = process->readAllStandardOutput().toStdString();
                const std::string errors = process->readAllStandardError().toStdString();
                process->deleteLater();
                if (status == QProcess::NormalExit && exitCode == 0) {
                    completion({true, output, {}});
                    return;
                }
                // pkexec ends with 126 when the user dismisses the prompt, 127 when not
                // authorised.
                std::string why = errors.empty() ? "命令返回 " + std::to_string(exitCode) : errors;
                if (status == QProcess::NormalExit && exitCode == 126)
                    why = "已取消授权";
                completion({false, {}, why});
            });
    process->start(program, arguments);
}
