#include "Engine.h"

#include "ChildProcess.h"
#include "platform/FileOperations.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TunnelService {

namespace {

constexpr auto startLimit = std::chrono::seconds(5);
constexpr int uapiTimeoutMilliseconds = 2000;

int connectTo(const std::filesystem::path &socket)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socket.string();
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0
        && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        const timeval timeout{uapiTimeoutMilliseconds / 1000, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// Sends a request and reads the answer up to the blank line that ends it.
std::optional<std::string> exchange(const std::filesystem::path &socket,
                                    const std::string &request,
                                    std::string &error)
{
    const int fd = connectTo(socket);
    if (fd < 0) {
        error = "the engine's configuration socket does not answer";
        return std::nullopt;
    }
    std::string answer;
    const bool sent = !Platform::sendAll(fd, request);
    char chunk[4096];
    while (sent && answer.find("\n\n") == std::string::npos) {
        const ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
        if (count <= 0)
            break;
        answer.append(chunk, std::size_t(count));
    }
    ::close(fd);
    if (answer.find("\n\n") == std::string::npos) {
        error = "the engine did not answer its configuration request";
        return std::nullopt;
    }
    return answer;
}

// The value of "errno=N" in an answer.
int errnoOf(const std::string &answer)
{
    const std::size_t at = answer.rfind("errno=");
    return at == std::string::npos ? EPROTO : std::atoi(answer.c_str() + at + 6);
}

} // namespace

std::optional<unsigned long long> processStartTime(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return std::nullopt;
    // The command name may hold spaces and brackets; the fields after its last ")" are plain.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 22)
            return std::stoull(field);
    }
    return std::nullopt;
}

std::filesystem::path Engine::uapiSocket(const std::string &interface)
{
    return std::filesystem::path("/var/run/wireguard") / (interface + ".sock");
}

Engine::Engine(pid_t pid, int pidfd, std::string interface)
    : m_pid(pid)
    , m_pidfd(pidfd)
    , m_interface(std::move(interface))
{
    m_startTime = processStartTime(pid).value_or(0);
}

Engine::~Engine()
{
    ::close(m_pidfd);
}

std::unique_ptr<Engine> Engine::start(const std::filesystem::path &program,
                                      const std::string &interface,
                                      std::string &error)
{
    // wireguard-go's banner and chatter would only fill the log; the service logs what it asks.
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) {
        error = "cannot open /dev/null: " + std::string(std::strerror(errno));
        return nullptr;
    }
    const pid_t pid = spawnChild(program,
                                 {program.string(), "-f", interface},
                                 devNull,
                                 devNull,
                                 error);
    ::close(devNull);
    if (pid < 0)
        return nullptr;
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        error = "cannot follow the engine: " + std::string(std::strerror(errno));
        return nullptr;
    }
    auto engine = std::unique_ptr<Engine>(new Engine(pid, pidfd, interface));
    // Collected whenever it ends; the pidfd still tells when that is.
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();

    // The engine is ready once its configuration socket answers.
    const auto deadline = std::chrono::steady_clock::now() + startLimit;
    for (;;) {
        const int fd = connectTo(uapiSocket(interface));
        if (fd >= 0) {
            ::close(fd);
            return engine;
        }
        pollfd ended{pidfd, POLLIN, 0};
        if (::poll(&ended, 1, 10) > 0) {
            error = "the engine ended as it started";
            return nullptr;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            engine->stop();
            error = "the engine did not come up within 5 seconds";
            return nullptr;
        }
    }
}

std::error_code Engine::set(const std::string &lines, std::string &error)
{
    const auto answer = exchange(uapiSocket(m_interface), "set=1\n" + lines + "\n", error);
    if (!answer)
        return std::make_error_code(std::errc::io_error);
    if (const int code = errnoOf(*answer); code != 0) {
        error = "the engine refused its configuration (errno " + std::to_string(code) + ")";
        return {code, std::generic_category()};
    }
    return {};
}

std::optional<std::map<std::string, Engine::Peer>> Engine::peers(std::string &error)
{
    const auto answer = exchange(uapiSocket(m_interface), "get=1\n\n", error);
    if (!answer || errnoOf(*answer) != 0)
        return std::nullopt;
    std::map<std::string, Peer> result;
    Peer *current = nullptr;
    std::istringstream lines(*answer);
    for (std::string line; std::getline(lines, line) && !line.empty();) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "public_key") {
            current = &result[value];
            current->publicKeyHex = value;
        } else if (current && key == "last_handshake_time_sec") {
            current->lastHandshakeSeconds = std::stoll(value);
        } else if (current && key == "rx_bytes") {
            current->rxBytes = std::stoull(value);
        } else if (current && key == "tx_bytes") {
            current->txBytes = std::stoull(value);
        } else if (current && key == "endpoint") {
            current->endpoint = value;
        }
    }
    return result;
}

void Engine::stop()
{
    ::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0);
}

} // namespace TunnelService
