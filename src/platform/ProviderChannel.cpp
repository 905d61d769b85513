#include "ProviderChannel.h"

#include "Dispatch.h"
#include "FileOperations.h"
#include "Log.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr const char logCategory[] = "ProviderChannel";
// Protocol lines are flat objects; anything nested deeper is no protocol line, and refusing it
// while parsing keeps hostile nesting from costing a deep copy later.
constexpr int deepestNesting = 16;

struct NestedTooDeep
{ };

// The line as a JSON object, or nothing.
std::optional<nlohmann::json> parsedObject(std::string_view line)
{
    const auto limitDepth = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json &) {
        const bool opens = event == nlohmann::json::parse_event_t::object_start
                           || event == nlohmann::json::parse_event_t::array_start;
        if (opens && depth >= deepestNesting)
            throw NestedTooDeep();
        return true;
    };
    try {
        auto parsed = nlohmann::json::parse(line, limitDepth, false);
        if (parsed.is_object())
            return parsed;
    } catch (const NestedTooDeep &) {
    }
    return std::nullopt;
}

// Logged on the main queue, where the log's receiver surely still exists.
void logSkipped(const std::string &why)
{
    mainQueue().async(
        [why] { Log::system(LogLevel::Error, logCategory, "skipped a provider line: " + why); });
}

} // namespace

// Shared by the channel and its two threads; the socket closes when all are done with it.
struct ProviderChannel::State
{
    int fd = -1;
    std::mutex mutex;
    std::condition_variable queued;
    std::deque<std::string> lines; // waiting to be written
    bool closed = false;
    std::atomic<bool> stalled = false;

    ~State()
    {
        if (fd >= 0)
            ::close(fd);
    }

    void shutDown()
    {
        {
            std::lock_guard lock(mutex);
            closed = true;
        }
        queued.notify_all();
        ::shutdown(fd, SHUT_RDWR);
    }

    // Writes queued lines until the channel closes. A line the provider leaves unread past the
    // send timeout ends the channel rather than leave half of it in the stream.
    void writeLines()
    {
        for (;;) {
            std::string line;
            {
                std::unique_lock lock(mutex);
                queued.wait(lock, [this] { return closed || !lines.empty(); });
                if (closed)
                    return;
                line = std::move(lines.front());
                lines.pop_front();
            }
            if (const std::error_code error = sendAll(fd, line)) {
                stalled = error == std::errc::resource_unavailable_try_again;
                shutDown();
                return;
            }
        }
    }
};

ProviderChannel::ProviderChannel(std::shared_ptr<State> state, pid_t peer)
    : m_state(std::move(state))
    , m_peerPid(peer)
{
    std::thread([state = m_state] { state->writeLines(); }).detach();
}

ProviderChannel::~ProviderChannel()
{
    close();
}

std::unique_ptr<ProviderChannel> ProviderChannel::connect(const std::filesystem::path &socket)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socket.string();
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return nullptr;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    auto state = std::make_shared<State>();
    // Not blocking: a provider whose backlog is full must not hold up the main thread.
    state->fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (state->fd < 0
        || ::connect(state->fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return nullptr;
    const int flags = ::fcntl(state->fd, F_GETFL);
    ::fcntl(state->fd, F_SETFL, flags & ~O_NONBLOCK);
    const timeval timeout{sendTimeoutSeconds, 0};
    ::setsockopt(state->fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ucred peer{};
    socklen_t length = sizeof peer;
    ::getsockopt(state->fd, SOL_SOCKET, SO_PEERCRED, &peer, &length);
    return std::unique_ptr<ProviderChannel>(new ProviderChannel(std::move(state), peer.pid));
}

void ProviderChannel::startReading(MessageHandler onMessage, ClosedHandler onClosed)
{
    std::thread([state = m_state, onMessage = std::move(onMessage), onClosed = std::move(onClosed)] {
        std::string buffer;
        bool skipping = false; // inside a line that is over the limit
        char chunk[4096];
        for (;;) {
            const ssize_t count = ::recv(state->fd, chunk, sizeof chunk, 0);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            buffer.append(chunk, std::size_t(count));
            for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
                if (!skipping && end > longestLine) {
                    logSkipped("longer than " + std::to_string(longestLine) + " bytes");
                } else if (!skipping) {
                    if (auto message = parsedObject(std::string_view(buffer).substr(0, end)))
                        mainQueue().async(
                            [onMessage, message = std::move(*message)] { onMessage(message); });
                    else
                        logSkipped("not a JSON object");
                }
                skipping = false;
                buffer.erase(0, end + 1);
            }
            if (buffer.size() > longestLine) {
                if (!skipping)
                    logSkipped("longer than " + std::to_string(longestLine) + " bytes");
                skipping = true;
                buffer.clear();
            }
        }
        state->shutDown();
        mainQueue().async(onClosed);
    }).detach();
}

bool ProviderChannel::send(const nlohmann::json &message)
{
    std::string line = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (line.size() > longestLine)
        return false;
    line += '\n';
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed)
            return false;
        m_state->lines.push_back(std::move(line));
    }
    m_state->queued.notify_one();
    return true;
}

bool ProviderChannel::stalled() const
{
    return m_state->stalled;
}

void ProviderChannel::close()
{
    if (m_state && m_state->fd >= 0)
        m_state->shutDown();
}

} // namespace Platform
