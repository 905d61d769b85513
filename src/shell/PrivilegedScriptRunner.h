#pragma once

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Runs a command, with administrator privileges when asked (through pkexec, which asks the user
// to authenticate), as a child process: the window stays responsive, and the outcome arrives in
// the completion on the main thread. The command is an argument vector; no shell ever parses it.
class PrivilegedScriptRunner : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool ok = false;
        std::string output; // standard output, when ok
        std::string error;  // why not, otherwise
    };
    using Completion = std::function<void(const Outcome &outcome)>;

    // program: what elevates; "pkexec" unless a stand-in is given.
    explicit PrivilegedScriptRunner(std::string program = "pkexec", QObject *parent = nullptr);

    void run(const std::vector<std::string> &command, bool administrator, Completion completion);

private:
    std::string m_program;
};
