#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include <sys/types.h>

namespace TunnelService {

// The WireGuard engine: a wireguard-go process in the foreground, a child of the service, which
// makes the interface and is configured over its UAPI socket (the text protocol "set=1" /
// "get=1"). Keys go only over that socket, never on a command line or in the environment.
class Engine
{
public:
    struct Peer
    {
        std::string publicKeyHex;
        std::int64_t lastHandshakeSeconds = 0; // 0: none yet
        std::uint64_t rxBytes = 0;
        std::uint64_t txBytes = 0;
        std::string endpoint;
    };

    // Starts the engine for the interface and waits (up to a few seconds) until it answers on
    // its UAPI socket. Nothing, with the reason, when it does not.
    static std::unique_ptr<Engine> start(const std::filesystem::path &program,
                                         const std::string &interface,
                                         std::string &error);

    // The UAPI socket of an interface's engine.
    static std::filesystem::path uapiSocket(const std::string &interface);

    ~Engine();

    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    pid_t pid() const { return m_pid; }
    // Readable when the process has ended; poll it beside the service's other descriptors.
    int pidfd() const { return m_pidfd; }
    // The process's start time (clock ticks since boot), which tells it from a later one with
    // the same number.
    unsigned long long startTime() const { return m_startTime; }

    // One "set=1" transaction: lines of "key=value", without the closing blank line.
    std::error_code set(const std::string &lines, std::string &error);
    // The peers, as "get=1" reports them.
    std::optional<std::map<std::string, Peer>> peers(std::string &error);

    // Ends the process (SIGKILL) and returns at once. Nothing of its state needs saving, and a
    // graceful exit can come seconds late and then remove the next engine's socket, whose path
    // is the same.
    void stop();

private:
    Engine(pid_t pid, int pidfd, std::string interface);

    const pid_t m_pid;
    const int m_pidfd;
    const std::string m_interface;
    unsigned long long m_startTime = 0;
};

// The start time of a process, from /proc/<pid>/stat; nothing when it is gone.
std::optional<unsigned long long> processStartTime(pid_t pid);

} // namespace TunnelService
