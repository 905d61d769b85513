#include "ProviderLauncher.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace Platform {

namespace {

// Writes to a pipe whose reader may already be gone, without the SIGPIPE that would end us.
void writeIgnoringBrokenPipe(int fd, const std::string &text)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    std::size_t written = 0;
    bool broken = false;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            broken = errno == EPIPE;
            break;
        }
        written += std::size_t(count);
    }
    if (broken) {
        const timespec immediately{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &immediately);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace

std::optional<ProviderLauncher::Launched> ProviderLauncher::launch(
    const std::filesystem::path &executable,
    const std::filesystem::path &socket,
    const std::string &options,
    std::string &error)
{
    int input[2];
    int ready[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(input[0]);
        ::close(input[1]);
        return std::nullopt;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ready[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawn_file_actions_addchdir_np(&actions, "/");

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string program = executable.string();
    std::string socketOption = "--socket";
    std::string socketPath = socket.string();
    char *arguments[] = {program.data(), socketOption.data(), socketPath.data(), nullptr};
    pid_t pid = -1;
    const int result
        = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    ::close(ready[1]);
    if (result != 0) {
        error = std::strerror(result);
        ::close(input[1]);
        ::close(ready[0]);
        return std::nullopt;
    }

    // Held before anything can reap the child, so the handle is surely of this process.
    auto process = ProviderProcess::open(pid);
    writeIgnoringBrokenPipe(input[1], options);
    ::close(input[1]);
    // The provider is our child while we run; reap it whenever it ends.
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return Launched{std::move(process), ready[0]};
}

bool ProviderLauncher::waitUntilReady(int readyPipe, double seconds)
{
    std::string received;
    char chunk[64];
    pollfd readable{readyPipe, POLLIN, 0};
    for (;;) {
        const int polled = ::poll(&readable, 1, int(seconds * 1000));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        const ssize_t count = ::read(readyPipe, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        received.append(chunk, std::size_t(count));
        if (received.find("ready\n") != std::string::npos)
            return true;
        if (received.size() > 1024)
            return false;
    }
}

} // namespace Platform
