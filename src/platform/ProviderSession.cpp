#include "ProviderSession.h"

#include "Base64.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "ProviderLauncher.h"

#include <thread>

#include <unistd.h>

namespace Platform {

namespace {

constexpr const char logCategory[] = "ProviderSession";
// Should a descendant of the provider keep its ready pipe open, the wait still ends.
constexpr double readyWaitLimit = 30.0;

void logIgnored(const std::string &why)
{
    Log::system(LogLevel::Error, logCategory, "ignored a provider line: " + why);
}

// The integer member's value when it lies in [lowest, highest].
std::optional<long> integerIn(const nlohmann::json &message,
                              const char *name,
                              long lowest,
                              long highest)
{
    const auto member = message.find(name);
    if (member == message.end() || !member->is_number_integer())
        return std::nullopt;
    if (member->is_number_unsigned() && member->get<std::uint64_t>() > std::uint64_t(highest))
        return std::nullopt;
    const std::int64_t value = member->get<std::int64_t>();
    if (value < lowest || value > highest)
        return std::nullopt;
    return long(value);
}

// The "reason" of a status line, which only a report of being down may carry: text that is not
// empty, cut to the limit without splitting a character (the parser has checked it is UTF-8).
std::optional<std::string> reasonOf(const nlohmann::json &message, int status)
{
    const auto member = message.find("reason");
    if (member == message.end())
        return std::nullopt;
    if (status > VPNStatus::disconnected) {
        logIgnored("a reason on a status that is not down");
        return std::nullopt;
    }
    if (!member->is_string() || member->get_ref<const std::string &>().empty()) {
        logIgnored("a reason that is no text");
        return std::nullopt;
    }
    std::string reason = member->get<std::string>();
    if (reason.size() > ProviderSession::reasonLimit) {
        std::size_t end = ProviderSession::reasonLimit;
        while (end > 0 && (static_cast<unsigned char>(reason[end]) & 0xC0) == 0x80)
            --end; // back to the first byte of the character that does not fit
        reason.resize(end);
    }
    return reason;
}

} // namespace

ProviderSession::ProviderSession(std::filesystem::path socket,
                                 std::filesystem::path providers,
                                 LaunchCheck check)
    : m_socket(std::move(socket))
    , m_providers(std::move(providers))
    , m_check(std::move(check))
{ }

void ProviderSession::probe()
{
    if (m_channel || m_launching)
        return;
    if (auto channel = ProviderChannel::connect(m_socket)) {
        attach(std::move(channel));
        return;
    }
    // Reported later, like every status, unless a start overtakes it.
    const unsigned generation = m_generation;
    mainQueue().async([weak = weak_from_this(), generation] {
        auto self = weak.lock();
        if (!self || self->m_generation != generation || self->m_channel || self->m_launching)
            return;
        self->setStatus(VPNStatus::disconnected);
        self->settle();
    });
}

bool ProviderSession::settled() const
{
    return !m_launching && (!m_channel || m_answered);
}

void ProviderSession::whenSettled(Task task)
{
    m_settledTasks.push_back(std::move(task));
    settle();
}

void ProviderSession::settle()
{
    if (!settled())
        return;
    for (Task &task : std::exchange(m_settledTasks, {}))
        mainQueue().async(std::move(task));
}

std::optional<VPNError> ProviderSession::startVPNTunnel(const Options &options)
{
    // Why the last tunnel went down says nothing about this one.
    m_disconnectReason.reset();
    if (m_launching) {
        repostStatus();
        return std::nullopt;
    }
    if (m_channel) {
        const bool running = m_status == VPNStatus::connecting || m_status == VPNStatus::connected
                             || m_status == VPNStatus::reasserting;
        if (m_answered && running && !m_stopRequested) {
            repostStatus();
            return std::nullopt;
        }
        // Not known yet, or the provider is going: a new one starts once it has gone.
        m_pendingStart = options;
        if (m_answered)
            setStatus(VPNStatus::connecting);
        return std::nullopt;
    }
    return launch(options);
}

std::optional<VPNError> ProviderSession::launch(const Options &options)
{
    const Launch launch = m_check();
    if (launch.refusal)
        return launch.refusal;

    std::string error;
    auto launched = ProviderLauncher::launch(launch.executable,
                                             m_socket,
                                             nlohmann::json(options).dump(),
                                             error);
    if (!launched)
        return VPNErrors::connectionFailed(error);

    ++m_generation;
    m_launching = true;
    m_stopRequested = false;
    m_answered = false;
    m_disconnectReason.reset();
    m_process = launched->process;
    setStatus(VPNStatus::connecting);
    std::thread([weak = weak_from_this(),
                 ready = launched->readyPipe,
                 socket = m_socket,
                 generation = m_generation] {
        std::unique_ptr<ProviderChannel> channel;
        if (ProviderLauncher::waitUntilReady(ready, readyWaitLimit))
            channel = ProviderChannel::connect(socket);
        ::close(ready);
        // Held in a shared box so the hand-over can be copied; a dropped box closes the socket.
        auto box = std::make_shared<std::unique_ptr<ProviderChannel>>(std::move(channel));
        mainQueue().async([weak, generation, box] {
            auto self = weak.lock();
            if (self && self->m_generation == generation)
                self->launchEnded(std::move(*box));
        });
    }).detach();
    after(readyDeadline, &ProviderSession::readyDeadlinePassed);
    return std::nullopt;
}

void ProviderSession::launchEnded(std::unique_ptr<ProviderChannel> channel)
{
    m_launching = false;
    if (channel) {
        const bool stop = m_stopRequested;
        attach(std::move(channel));
        if (stop)
            stopVPNTunnel();
        return;
    }
    m_process.reset();
    if (std::exchange(m_stopRequested, false)) {
        setStatus(VPNStatus::disconnected);
        settle();
        return;
    }
    // The provider did not come up, but another one may hold the socket.
    probe();
}

void ProviderSession::stopVPNTunnel()
{
    m_pendingStart.reset();
    if (m_launching) {
        m_stopRequested = true;
        if (m_process)
            m_process->terminate(killGrace);
        return;
    }
    if (!m_channel)
        return;
    m_stopRequested = true;
    send({{"type", "stop"}});
    after(endDeadline, &ProviderSession::endDeadlinePassed);
}

std::optional<VPNError> ProviderSession::sendProviderMessage(const std::string &data,
                                                             ReplyHandler reply)
{
    if (!m_channel)
        return VPNErrors::connectionFailed("隧道未运行。");
    const auto id = send({{"type", "message"}, {"data", Base64::encode(data)}});
    if (!id)
        return VPNErrors::connectionFailed("无法发送消息。");
    m_replies.emplace(*id, std::move(reply));
    return std::nullopt;
}

void ProviderSession::setStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    repostStatus();
}

void ProviderSession::repostStatus()
{
    NotificationCenter::defaultCenter().post(NEVPNStatusDidChange,
                                             std::shared_ptr<VPNConnection>(shared_from_this()));
}

void ProviderSession::attach(std::unique_ptr<ProviderChannel> channel)
{
    ++m_generation;
    m_channel = std::move(channel);
    m_answered = false;
    // A provider found running may have to be ended; only one of the installed extensions is.
    if (!m_process || m_process->pid() != m_channel->peerPid())
        m_process = ProviderProcess::openProvider(m_channel->peerPid(), m_providers);
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
    after(answerDeadline, &ProviderSession::answerDeadlinePassed);
}

void ProviderSession::receive(const nlohmann::json &message)
{
    const auto type = message.find("type");
    if (type == message.end() || !type->is_string()) {
        logIgnored("no text \"type\"");
        return;
    }
    const std::string &kind = type->get_ref<const std::string &>();
    if (kind == "status") {
        const auto status = integerIn(message,
                                      "status",
                                      VPNStatus::invalid,
                                      VPNStatus::disconnecting);
        if (!status) {
            logIgnored("a status that is no status number");
            return;
        }
        receiveStatus(int(*status), reasonOf(message, int(*status)));
        return;
    }
    if (kind == "reply") {
        const auto id = integerIn(message, "id", 1, m_nextRequest - 1);
        if (!id) {
            logIgnored("a reply without the id of a request");
            return;
        }
        receiveReply(*id, message);
    }
    // "stopping" and "error" ask nothing of the app; other types are not its to know.
}

void ProviderSession::receiveStatus(int status, std::optional<std::string> reason)
{
    m_answered = true;
    // Kept before the status is posted, so that whoever hears of it can ask why.
    if (reason)
        Log::system(LogLevel::Default, logCategory, "the provider says why it is down: " + *reason);
    m_disconnectReason = std::move(reason);
    setStatus(status);
    if (status == VPNStatus::connecting || status == VPNStatus::connected
        || status == VPNStatus::reasserting)
        m_pendingStart.reset(); // it runs after all
    if (status <= VPNStatus::disconnected)
        after(endDeadline, &ProviderSession::endDeadlinePassed); // its last word
    settle();
}

void ProviderSession::receiveReply(long id, const nlohmann::json &message)
{
    const auto handler = m_replies.find(id);
    if (handler == m_replies.end())
        return;
    ReplyHandler reply = std::move(handler->second);
    m_replies.erase(handler);
    std::optional<std::string> data;
    const auto member = message.find("data");
    if (member != message.end() && member->is_string()) {
        data = Base64::decode(member->get_ref<const std::string &>());
        if (!data)
            logIgnored("reply data that is no base64");
    } else if (member != message.end() && !member->is_null()) {
        logIgnored("reply data that is neither text nor null");
    }
    if (data && data->empty())
        data.reset();
    if (reply)
        reply(data);
}

void ProviderSession::detach()
{
    // A provider that stopped reading what it was sent is wedged: it goes too.
    if (m_channel && m_channel->stalled() && m_process)
        m_process->terminate(killGrace);
    ++m_generation;
    m_channel.reset();
    m_process.reset();
    m_answered = false;
    m_stopRequested = false;
    // Replies that will never come are answered with nothing.
    for (auto &[id, reply] : std::exchange(m_replies, {})) {
        if (reply)
            reply(std::nullopt);
    }
    if (auto options = std::exchange(m_pendingStart, std::nullopt)) {
        if (const auto refused = launch(*options)) {
            Log::system(LogLevel::Error,
                        logCategory,
                        "cannot start the provider: " + refused->localizedDescription);
            setStatus(VPNStatus::disconnected);
        }
    } else {
        setStatus(VPNStatus::disconnected);
    }
    settle();
}

void ProviderSession::endProvider(const std::string &why)
{
    Log::system(LogLevel::Error, logCategory, why);
    if (m_process) {
        m_process->terminate(killGrace);
        return;
    }
    // Not a process this session may end: it lets go of it instead.
    if (m_channel)
        m_channel->close();
}

void ProviderSession::after(double seconds, void (ProviderSession::*check)())
{
    // A check that finds the session moved on (relaunched, reconnected, disconnected) does nothing.
    mainQueue().after(seconds, [weak = weak_from_this(), generation = m_generation, check] {
        if (auto self = weak.lock(); self && self->m_generation == generation)
            ((*self).*check)();
    });
}

void ProviderSession::readyDeadlinePassed()
{
    if (m_launching)
        endProvider("the provider did not say it was ready in time");
}

void ProviderSession::answerDeadlinePassed()
{
    if (!m_channel || m_answered)
        return;
    endProvider("the provider did not report its status in time");
    // Whoever waits for the status waits no longer: it is what it was.
    for (Task &task : std::exchange(m_settledTasks, {}))
        mainQueue().async(std::move(task));
}

void ProviderSession::endDeadlinePassed()
{
    if (m_channel)
        endProvider("the provider did not end in time");
}

std::optional<long> ProviderSession::send(nlohmann::json request)
{
    const long id = m_nextRequest++;
    request["id"] = id;
    if (!m_channel || !m_channel->send(request))
        return std::nullopt;
    return id;
}

} // namespace Platform
