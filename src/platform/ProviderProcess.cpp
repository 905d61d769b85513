#include "ProviderProcess.h"

#include "Log.h"

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr const char logCategory[] = "ProviderProcess";

// Through syscall(): Debian 12's C library declares the pidfd calls without C linkage for C++.
int pidfdOpen(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

bool signal(int pidfd, int number)
{
    return ::syscall(SYS_pidfd_send_signal, pidfd, number, nullptr, 0) == 0;
}

// Whether the process has ended within the time; a pidfd turns readable when it does.
bool endsWithin(int pidfd, double seconds)
{
    pollfd ended{pidfd, POLLIN, 0};
    for (;;) {
        const int result = ::poll(&ended, 1, int(seconds * 1000));
        if (result < 0 && errno == EINTR)
            continue;
        return result > 0;
    }
}

std::string executableOf(pid_t pid)
{
    std::string target(4096, '\0');
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    target.resize(length > 0 ? std::size_t(length) : 0);
    return target;
}

} // namespace

ProviderProcess::ProviderProcess(pid_t pid, int pidfd)
    : m_pid(pid)
    , m_pidfd(pidfd)
{ }

ProviderProcess::~ProviderProcess()
{
    ::close(m_pidfd);
}

std::shared_ptr<ProviderProcess> ProviderProcess::open(pid_t pid)
{
    if (pid <= 0)
        return nullptr;
    const int pidfd = pidfdOpen(pid);
    if (pidfd < 0)
        return nullptr;
    return std::shared_ptr<ProviderProcess>(new ProviderProcess(pid, pidfd));
}

std::shared_ptr<ProviderProcess> ProviderProcess::openProvider(
    pid_t pid, const std::filesystem::path &directory)
{
    auto process = open(pid);
    if (!process)
        return nullptr;
    // Checked once the pidfd holds the process, so the answer is about that very process.
    struct stat status;
    const std::string proc = "/proc/" + std::to_string(pid);
    const std::string inside = directory.lexically_normal().string() + "/";
    if (::stat(proc.c_str(), &status) != 0 || status.st_uid != ::getuid()
        || !executableOf(pid).starts_with(inside)) {
        Log::system(LogLevel::Error,
                    logCategory,
                    "process " + std::to_string(pid)
                        + " is no provider of this user's installed extensions");
        return nullptr;
    }
    return process;
}

void ProviderProcess::terminate(double graceSeconds)
{
    Log::system(LogLevel::Default, logCategory, "ending provider process " + std::to_string(m_pid));
    if (!signal(m_pidfd, SIGTERM))
        return; // gone already
    // Nothing is logged from the thread: it may outlive whoever receives the log.
    std::thread([self = shared_from_this(), graceSeconds] {
        if (!endsWithin(self->m_pidfd, graceSeconds))
            signal(self->m_pidfd, SIGKILL);
    }).detach();
}

} // namespace Platform
