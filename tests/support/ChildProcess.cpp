#include "ChildProcess.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::vector<std::string> childEnvironment(const std::vector<ChildProcess::Variable> &changes)
{
    std::map<std::string, std::string> variables;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto &change : changes) {
        if (change.value)
            variables[change.name] = *change.value;
        else
            variables.erase(change.name);
    }
    std::vector<std::string> result;
    for (const auto &[name, value] : variables)
        result.push_back(name + "=" + value);
    return result;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> result;
    for (auto &text : strings)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string> &arguments,
                           const std::vector<Variable> &environment)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    // Its own process group, so that a kill reaches whatever it started as well.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<std::string> argumentStrings = arguments;
    std::vector<std::string> environmentStrings = childEnvironment(environment);
    auto argv = pointers(argumentStrings);
    auto envp = pointers(environmentStrings);
    const int result
        = ::posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[1]);
    if (result != 0) {
        ::close(pipeEnds[0]);
        throw std::runtime_error("cannot start " + arguments.front() + ": " + std::strerror(result));
    }
    m_stdout = pipeEnds[0];
}

ChildProcess::~ChildProcess()
{
    kill(SIGKILL);
    reap(true);
    if (m_stdout >= 0)
        ::close(m_stdout);
}

bool ChildProcess::fill(std::chrono::steady_clock::time_point deadline)
{
    if (m_ended)
        return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    pollfd descriptor{m_stdout, POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, int(left.count()));
    if (ready < 0 && errno == EINTR)
        return true;
    if (ready <= 0)
        return false;
    char chunk[4096];
    const ssize_t count = ::read(m_stdout, chunk, sizeof chunk);
    if (count <= 0) {
        m_ended = true;
        return false;
    }
    m_buffer.append(chunk, std::size_t(count));
    m_output.append(chunk, std::size_t(count));
    return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds cap)
{
    const auto deadline = std::chrono::steady_clock::now() + cap;
    for (;;) {
        const auto newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        if (!fill(deadline))
            return std::nullopt;
    }
}

std::optional<int> ChildProcess::finish(std::chrono::milliseconds cap)
{
    const auto deadline = std::chrono::steady_clock::now() + cap;
    while (!m_ended && std::chrono::steady_clock::now() < deadline)
        fill(deadline);
    // The output is closed; the child may still be exiting.
    while (!reap(false) && std::chrono::steady_clock::now() < deadline)
        ::poll(nullptr, 0, 5);
    if (!m_status) {
        kill(SIGKILL);
        reap(true);
        return std::nullopt;
    }
    return m_status;
}

void ChildProcess::kill(int signal)
{
    // The group may outlive its leader (a daemon the child started), so it is signalled even
    // after the leader was reaped.
    ::kill(-m_pid, signal);
}

std::optional<int> ChildProcess::reap(bool block)
{
    if (m_status)
        return m_status;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (done != m_pid)
        return std::nullopt;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return m_status;
}

std::string testChildProgram()
{
    return ORVANE_TEST_CHILD;
}
