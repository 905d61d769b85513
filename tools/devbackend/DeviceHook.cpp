#include "DeviceHook.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <future>
#include <optional>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace Dev {

namespace {

// The child's wait status, or nothing when it cannot be had.
std::optional<int> statusOf(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    return status;
}

std::string durationText(std::chrono::milliseconds duration)
{
    if (duration.count() % 1000 == 0)
        return std::to_string(duration.count() / 1000) + " s";
    return std::to_string(duration.count()) + " ms";
}

} // namespace

DeviceHook::DeviceHook(std::filesystem::path program, std::chrono::milliseconds cap)
    : m_program(std::move(program))
    , m_cap(cap)
{ }

std::string DeviceHook::run(const std::string &publicKey,
                            const std::vector<std::string> &addresses) const
{
    std::vector<std::string> arguments = {m_program.string(), publicKey};
    arguments.insert(arguments.end(), addresses.begin(), addresses.end());
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // Nothing to read, its output beside the backend's messages, none of the backend's sockets.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // The program gets the default signal handling, not the backend's, and a process group of
    // its own so that a kill reaches what it started as well.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int result = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        return "cannot start " + m_program.string() + ": " + std::strerror(result);

    // waitpid has no time limit, so it waits on a thread of its own while this one keeps time.
    std::future<std::optional<int>> ended = std::async(std::launch::async, statusOf, pid);
    if (ended.wait_for(m_cap) == std::future_status::timeout) {
        ::kill(-pid, SIGKILL);
        ended.wait();
        return m_program.string() + " did not finish within " + durationText(m_cap);
    }
    const std::optional<int> status = ended.get();
    if (!status)
        return "cannot wait for " + m_program.string();
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        return {};
    if (WIFEXITED(*status))
        return m_program.string() + " exited with code " + std::to_string(WEXITSTATUS(*status));
    return m_program.string() + " was killed by signal " + std::to_string(WTERMSIG(*status));
}

} // namespace Dev
