#include "ProviderChannel.h"

#include "Dispatch.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr std::size_t longestLine = 64 * 1024;

} // namespace

// Shared by the channel and its reader thread; the socket closes when both are done with it.
struct ProviderChannel::State
{
    int fd = -1;
    ~State()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

ProviderChannel::ProviderChannel(std::shared_ptr<State> state)
    : m_state(std::move(state))
{ }

ProviderChannel::~ProviderChannel()
{
    close();
}

std::unique_ptr<ProviderChannel> ProviderChannel::connect(const std::filesystem::path &socket)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socket.string();
    if (path.size() >= sizeof address.sun_path)
        return nullptr;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    auto state = std::make_shared<State>();
    state->fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (state->fd < 0
        || ::connect(state->fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return nullptr;
    return std::unique_ptr<ProviderChannel>(new ProviderChannel(std::move(state)));
}

void ProviderChannel::startReading(MessageHandler onMessage, ClosedHandler onClosed)
{
    std::thread([state = m_state, onMessage = std::move(onMessage), onClosed = std::move(onClosed)] {
        std::string buffer;
        char chunk[4096];
        for (;;) {
            const ssize_t count = ::recv(state->fd, chunk, sizeof chunk, 0);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            buffer.append(chunk, std::size_t(count));
            for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
                auto message = nlohmann::json::parse(buffer.substr(0, end), nullptr, false);
                buffer.erase(0, end + 1);
                if (message.is_object())
                    mainQueue().async(
                        [onMessage, message = std::move(message)] { onMessage(message); });
            }
            if (buffer.size() > longestLine)
                break; // a provider that does not keep to the protocol
        }
        ::shutdown(state->fd, SHUT_RDWR);
        mainQueue().async(onClosed);
    }).detach();
}

bool ProviderChannel::send(const nlohmann::json &message)
{
    const std::string line = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                             + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t count = ::send(m_state->fd,
                                     line.data() + sent,
                                     line.size() - sent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        sent += std::size_t(count);
    }
    return true;
}

void ProviderChannel::close()
{
    if (m_state && m_state->fd >= 0)
        ::shutdown(m_state->fd, SHUT_RDWR);
}

} // namespace Platform
