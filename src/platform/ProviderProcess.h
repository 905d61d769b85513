#pragma once

#include <filesystem>
#include <memory>

#include <sys/types.h>

namespace Platform {

// A tunnel provider process the application may have to end: one it launched, or one it found
// behind the provider's socket. It is held through a pidfd, so a signal never reaches another
// process that happens to reuse the number.
class ProviderProcess : public std::enable_shared_from_this<ProviderProcess>
{
public:
    // The process with this id; nothing when it is gone or cannot be held.
    static std::shared_ptr<ProviderProcess> open(pid_t pid);

    // The process with this id, but only when it runs as this user a program that lies inside
    // directory: a provider started from the installed extensions, never anything else.
    static std::shared_ptr<ProviderProcess> openProvider(pid_t pid,
                                                         const std::filesystem::path &directory);

    ~ProviderProcess();

    ProviderProcess(const ProviderProcess &) = delete;
    ProviderProcess &operator=(const ProviderProcess &) = delete;

    pid_t pid() const { return m_pid; }

    // Asks the process to stop (SIGTERM), and kills it (SIGKILL) when it is still there after
    // graceSeconds. Returns at once; the waiting happens on a thread of its own.
    void terminate(double graceSeconds);

private:
    ProviderProcess(pid_t pid, int pidfd);

    const pid_t m_pid;
    const int m_pidfd;
};

} // namespace Platform
