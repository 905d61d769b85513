#include "Provider.h"

#include "EventLog.h"
#include "ListeningSocket.h"
#include "TerminationSignal.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <poll.h>

namespace ReferenceProvider {

namespace {

// How long replies already queued may take to reach clients once the provider is done.
constexpr std::chrono::seconds closingGrace{1};

} // namespace

Provider::Provider(ListeningSocket &socket,
                   TerminationSignal &termination,
                   EventLog &log,
                   TunnelMessages messages,
                   const Knobs &knobs)
    : m_socket(socket)
    , m_termination(termination)
    , m_log(log)
    , m_messages(std::move(messages))
    , m_knobs(knobs)
{ }

int Provider::run()
{
    m_log.append("status " + std::to_string(int(m_status)));
    m_connectAt = Clock::now() + m_knobs.startDelay;

    while (!finished()) {
        std::vector<pollfd> descriptors;
        descriptors.push_back({m_termination.fd(), POLLIN, 0});
        descriptors.push_back({m_socket.fd(), POLLIN, 0}); // a closed socket (-1) is skipped
        const bool closing = m_closeBy.has_value();
        for (const auto &client : m_clients) {
            short events = closing ? 0 : POLLIN;
            if (client->hasPendingOutput())
                events |= POLLOUT;
            descriptors.push_back({client->fd(), events, 0});
        }
        if (::poll(descriptors.data(), descriptors.size(), pollTimeout()) < 0 && errno != EINTR)
            return 1;

        runTimers();
        if (descriptors[0].revents && m_termination.take())
            beginStop("stop SIGTERM");
        if (descriptors[1].revents && m_socket.isListening())
            acceptClients();
        const std::size_t polledClients = descriptors.size() - 2;
        for (std::size_t i = 0; i < polledClients; ++i) {
            ClientConnection &client = *m_clients[i];
            const short events = descriptors[i + 2].revents;
            if (events & POLLOUT)
                client.flush();
            if (!m_closeBy && (events & (POLLIN | POLLHUP | POLLERR)))
                serve(client);
            else if (events & (POLLHUP | POLLERR))
                client.close();
        }
        std::erase_if(m_clients, [](const auto &client) { return !client->isOpen(); });
    }
    m_clients.clear();
    m_socket.close();
    return 0;
}

void Provider::setStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    m_log.append("status " + std::to_string(int(status)));
    const std::string push = statusPush(status);
    for (const auto &client : m_clients) {
        if (client->isSubscribed())
            client->send(push);
    }
}

void Provider::beginStop(std::string_view cause)
{
    if (m_disconnectAt || m_closeBy)
        return;
    m_log.append(cause);
    m_connectAt.reset();
    setStatus(Status::Disconnecting);
    m_disconnectAt = Clock::now() + m_knobs.stopDelay;
    runTimers();
}

void Provider::runTimers()
{
    const Clock::time_point now = Clock::now();
    if (m_connectAt && now >= *m_connectAt) {
        m_connectAt.reset();
        setStatus(Status::Connected);
    }
    if (m_disconnectAt && now >= *m_disconnectAt) {
        m_disconnectAt.reset();
        setStatus(Status::Disconnected);
        // Gone from the path first, so a client that sees its connection end finds no socket.
        m_socket.close();
        m_closeBy = now + closingGrace;
    }
}

void Provider::acceptClients()
{
    for (int fd = m_socket.acceptClient(); fd >= 0; fd = m_socket.acceptClient())
        m_clients.push_back(std::make_unique<ClientConnection>(fd));
}

void Provider::serve(ClientConnection &client)
{
    client.receive();
    while (const std::optional<std::string> line = client.nextLine())
        handleLine(client, *line);
}

void Provider::handleLine(ClientConnection &client, std::string_view line)
{
    const auto parsed = parseRequest(line);
    if (const auto *error = std::get_if<RequestError>(&parsed)) {
        client.send(errorReply(*error));
        return;
    }
    const Request &request = std::get<Request>(parsed);
    switch (request.type) {
    case Request::Type::Subscribe:
        client.subscribe();
        client.send(statusReply(request.id, m_status));
        break;
    case Request::Type::Status:
        client.send(statusReply(request.id, m_status));
        break;
    case Request::Type::Message: {
        const TunnelMessages::Outcome outcome = m_messages.handle(request.data, m_status);
        m_log.append(outcome.logLine);
        client.send(messageReply(request.id, outcome.reply));
        break;
    }
    case Request::Type::Stop:
        client.send(stoppingReply(request.id));
        beginStop("stop");
        break;
    }
}

bool Provider::finished() const
{
    if (!m_closeBy)
        return false;
    const bool flushed = std::none_of(m_clients.begin(), m_clients.end(), [](const auto &client) {
        return client->hasPendingOutput();
    });
    return flushed || Clock::now() >= *m_closeBy;
}

int Provider::pollTimeout() const
{
    std::optional<Clock::time_point> next;
    for (const auto &deadline : {m_connectAt, m_disconnectAt, m_closeBy}) {
        if (deadline && (!next || *deadline < *next))
            next = deadline;
    }
    if (!next)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

} // namespace ReferenceProvider
