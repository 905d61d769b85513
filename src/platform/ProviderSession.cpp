#include "ProviderSession.h"

#include "Base64.h"
#include "Dispatch.h"
#include "NotificationCenter.h"
#include "ProviderLauncher.h"

#include <thread>

#include <unistd.h>

namespace Platform {

ProviderSession::ProviderSession(std::filesystem::path socket, LaunchCheck check)
    : m_socket(std::move(socket))
    , m_check(std::move(check))
{ }

void ProviderSession::probe()
{
    if (auto channel = ProviderChannel::connect(m_socket)) {
        attach(std::move(channel));
        return;
    }
    // Reported later, like every status, unless a start overtakes it.
    const unsigned generation = m_generation;
    mainQueue().async([weak = weak_from_this(), generation] {
        auto self = weak.lock();
        if (self && self->m_generation == generation && !self->m_channel)
            self->setStatus(VPNStatus::disconnected);
    });
}

std::optional<VPNError> ProviderSession::startVPNTunnel(const Options &options)
{
    if (m_channel || m_launching)
        return std::nullopt; // already starting or running: no second provider
    const Launch launch = m_check();
    if (launch.refusal)
        return launch.refusal;

    std::string error;
    const auto launched = ProviderLauncher::launch(launch.executable,
                                                   m_socket,
                                                   nlohmann::json(options).dump(),
                                                   error);
    if (!launched)
        return VPNErrors::connectionFailed(error);

    ++m_generation;
    m_launching = true;
    m_stopWhenAttached = false;
    setStatus(VPNStatus::connecting);
    std::thread([weak = weak_from_this(),
                 ready = launched->readyPipe,
                 socket = m_socket,
                 generation = m_generation] {
        std::unique_ptr<ProviderChannel> channel;
        if (ProviderLauncher::waitUntilReady(ready))
            channel = ProviderChannel::connect(socket);
        ::close(ready);
        // Held in a shared box so the hand-over can be copied; a dropped box closes the socket.
        auto box = std::make_shared<std::unique_ptr<ProviderChannel>>(std::move(channel));
        mainQueue().async([weak, generation, box] {
            auto self = weak.lock();
            if (!self || self->m_generation != generation)
                return;
            self->m_launching = false;
            if (!*box) {
                self->setStatus(VPNStatus::disconnected);
                return;
            }
            self->attach(std::move(*box));
        });
    }).detach();
    return std::nullopt;
}

void ProviderSession::stopVPNTunnel()
{
    if (m_channel) {
        send({{"type", "stop"}});
        return;
    }
    if (m_launching)
        m_stopWhenAttached = true;
}

std::optional<VPNError> ProviderSession::sendProviderMessage(const std::string &data,
                                                             ReplyHandler reply)
{
    if (!m_channel)
        return VPNErrors::connectionFailed("隧道未运行。");
    const long id = m_nextRequest;
    if (!send({{"type", "message"}, {"data", Base64::encode(data)}}))
        return VPNErrors::connectionFailed("无法发送消息。");
    m_replies.emplace(id, std::move(reply));
    return std::nullopt;
}

void ProviderSession::setStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    NotificationCenter::defaultCenter().post(NEVPNStatusDidChange,
                                             std::shared_ptr<VPNConnection>(shared_from_this()));
}

void ProviderSession::attach(std::unique_ptr<ProviderChannel> channel)
{
    ++m_generation;
    m_channel = std::move(channel);
    const unsigned generation = m_generation;
    m_channel->startReading(
        [weak = weak_from_this(), generation](const nlohmann::json &message) {
            auto self = weak.lock();
            if (self && self->m_generation == generation)
                self->receive(message);
        },
        [weak = weak_from_this(), generation] {
            auto self = weak.lock();
            if (self && self->m_generation == generation)
                self->detach();
        });
    send({{"type", "subscribe"}});
    if (std::exchange(m_stopWhenAttached, false))
        send({{"type", "stop"}});
}

void ProviderSession::receive(const nlohmann::json &message)
{
    const auto type = message.value("type", std::string());
    if (type == "status" && message.contains("status") && message["status"].is_number_integer()) {
        setStatus(message["status"].get<int>());
        return;
    }
    if (type != "reply" || !message.contains("id") || !message["id"].is_number_integer())
        return;
    const auto handler = m_replies.find(message["id"].get<long>());
    if (handler == m_replies.end())
        return;
    ReplyHandler reply = std::move(handler->second);
    m_replies.erase(handler);
    std::optional<std::string> data;
    if (message.contains("data") && message["data"].is_string())
        data = Base64::decode(message["data"].get<std::string>());
    if (data && data->empty())
        data.reset();
    if (reply)
        reply(data);
}

void ProviderSession::detach()
{
    ++m_generation;
    m_channel.reset();
    // Replies that will never come are answered with nothing.
    auto pending = std::exchange(m_replies, {});
    for (auto &[id, reply] : pending) {
        if (reply)
            reply(std::nullopt);
    }
    setStatus(VPNStatus::disconnected);
}

bool ProviderSession::send(nlohmann::json request)
{
    request["id"] = m_nextRequest++;
    return m_channel && m_channel->send(request);
}

} // namespace Platform
