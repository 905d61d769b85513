#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <memory>

namespace Platform {

// A connection to a tunnel provider's socket: one JSON object per line in both directions.
// Lines are sent from the main thread; lines received are read on a thread of the channel's own
// and handed to the main queue, followed by one "closed" when the provider goes away or close()
// is called.
class ProviderChannel
{
public:
    using MessageHandler = std::function<void(const nlohmann::json &message)>;
    using ClosedHandler = std::function<void()>;

    // Nothing when no provider listens there (no socket, or a stale one).
    static std::unique_ptr<ProviderChannel> connect(const std::filesystem::path &socket);

    ~ProviderChannel();

    ProviderChannel(const ProviderChannel &) = delete;
    ProviderChannel &operator=(const ProviderChannel &) = delete;

    void startReading(MessageHandler onMessage, ClosedHandler onClosed);

    // Whether the line could be handed to the socket.
    bool send(const nlohmann::json &message);

    void close();

private:
    struct State;
    explicit ProviderChannel(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
};

} // namespace Platform
