#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// A program started by a test, in a process group of its own, with its standard output on a
// pipe. The child inherits the test's environment (TemporaryHome included) with the given
// changes. Every wait has a real-time cap, so a hung child fails the test instead of hanging it;
// at destruction the whole group is killed.
class ChildProcess
{
public:
    struct Variable
    {
        std::string name;
        std::optional<std::string> value; // nothing: removed from the child's environment
    };

    ChildProcess(const std::vector<std::string> &arguments,
                 const std::vector<Variable> &environment = {});
    ~ChildProcess();

    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }

    // The next line of output, or nothing at end of output or when the cap passes.
    std::optional<std::string> readLine(std::chrono::milliseconds cap = std::chrono::seconds(20));

    // Everything the child writes until it exits; then its exit code (-signal when killed), or
    // nothing when the cap passed first (the child is then killed).
    std::optional<int> finish(std::chrono::milliseconds cap = std::chrono::seconds(20));
    const std::string &output() const { return m_output; }

    // Signals the child's whole process group.
    void kill(int signal);

private:
    bool fill(std::chrono::steady_clock::time_point deadline);
    std::optional<int> reap(bool block);

    pid_t m_pid = -1;
    int m_stdout = -1;
    std::string m_buffer; // read but not yet returned by readLine
    std::string m_output; // everything read
    bool m_ended = false;
    std::optional<int> m_status;
};

// The path of the test helper program (tests/helpers).
std::string testChildProgram();
