#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <memory>

#include <sys/types.h>

namespace Platform {

// A connection to a tunnel provider's socket: one JSON object per line in both directions.
// Lines received are read on a thread of the channel's own; those that are JSON objects are
// handed to the main queue, followed by one "closed" when the provider goes away or close() is
// called. Lines sent go out whole, in order, from a thread of their own: a line is never torn,
// whatever the provider does.
class ProviderChannel
{
public:
    using MessageHandler = std::function<void(const nlohmann::json &message)>;
    using ClosedHandler = std::function<void()>;

    // The longest line either side sends, without its newline. Longer lines that arrive are
    // skipped; longer ones are never sent.
    static constexpr std::size_t longestLine = 64 * 1024;
    // How long a provider may leave a line unread before the channel gives up on it.
    static constexpr int sendTimeoutSeconds = 5;

    // Nothing when no provider accepts connections there (no socket, or a stale one).
    static std::unique_ptr<ProviderChannel> connect(const std::filesystem::path &socket);

    ~ProviderChannel();

    ProviderChannel(const ProviderChannel &) = delete;
    ProviderChannel &operator=(const ProviderChannel &) = delete;

    // The process listening on the socket, as the kernel saw it when the channel connected.
    pid_t peerPid() const { return m_peerPid; }

    void startReading(MessageHandler onMessage, ClosedHandler onClosed);

    // Queues the message as one line; false when it is too long or the channel has closed.
    bool send(const nlohmann::json &message);

    // Whether the channel closed because the provider stopped reading what it was sent.
    bool stalled() const;

    void close();

private:
    struct State;
    ProviderChannel(std::shared_ptr<State> state, pid_t peer);

    std::shared_ptr<State> m_state;
    const pid_t m_peerPid;
};

} // namespace Platform
