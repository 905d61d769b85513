#include "NetworkNamespace.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

NetworkNamespace::NetworkNamespace()
{
    if (::geteuid() != 0) {
        m_reason = "needs root";
        return;
    }
    m_original = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_original >= 0 && ::unshare(CLONE_NEWNET) == 0)
        return;
    m_reason = std::string("cannot make a network namespace: ") + std::strerror(errno);
    if (m_original >= 0)
        ::close(m_original);
    m_original = -1;
}

NetworkNamespace::~NetworkNamespace()
{
    if (m_original < 0)
        return;
    ::setns(m_original, CLONE_NEWNET);
    ::close(m_original);
}

ProgramResult runProgram(const std::vector<std::string> &arguments)
{
    ProgramResult result;
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    char buffer[4096];
    for (ssize_t count; spawned == 0 && (count = ::read(output[0], buffer, sizeof buffer)) != 0;) {
        if (count > 0)
            result.output.append(buffer, std::size_t(count));
        else if (errno != EINTR)
            break;
    }
    ::close(output[0]);
    int status = 0;
    if (spawned == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    return result;
}
