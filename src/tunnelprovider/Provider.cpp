#include "Provider.h"

#include "EventLog.h"
#include "ListeningSocket.h"
#include "TerminationSignal.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <poll.h>

namespace TunnelProvider {

namespace {

// How long replies already queued may take to reach clients once the provider is done.
constexpr std::chrono::seconds closingGrace{1};
// How long a reason for the tunnel's end waits for the app when no client was there to hear it
// (the app connects right after "ready"; a tunnel may fail before that). Well inside the app's
// two seconds from status 1 to the end of the connection.
constexpr std::chrono::milliseconds reasonLinger{1000};

} // namespace

Provider::Provider(ListeningSocket &socket,
                   TerminationSignal &termination,
                   EventLog &log,
                   TunnelDriver &driver)
    : m_socket(socket)
    , m_termination(termination)
    , m_log(log)
    , m_driver(driver)
{ }

int Provider::run()
{
    m_log.append("status " + std::to_string(int(m_status)));
    m_driver.start(*this);

    while (!finished()) {
        std::vector<pollfd> descriptors;
        descriptors.push_back({m_termination.fd(), POLLIN, 0});
        descriptors.push_back({m_socket.fd(), POLLIN, 0}); // a closed socket (-1) is skipped
        const bool closing = m_closeBy.has_value();
        const bool driving = m_status != Status::Disconnected;
        for (const auto &client : m_clients) {
            short events = closing ? 0 : POLLIN;
            if (client->lines.hasPendingOutput())
                events |= POLLOUT;
            descriptors.push_back({client->lines.fd(), events, 0});
        }
        const std::size_t clientCount = m_clients.size();
        std::vector<pollfd> driverDescriptors = driving ? m_driver.descriptors()
                                                        : std::vector<pollfd>();
        descriptors.insert(descriptors.end(), driverDescriptors.begin(), driverDescriptors.end());
        if (::poll(descriptors.data(), descriptors.size(), pollTimeout()) < 0 && errno != EINTR)
            return 1;

        if (!driverDescriptors.empty()) {
            std::copy(descriptors.end() - std::ptrdiff_t(driverDescriptors.size()),
                      descriptors.end(),
                      driverDescriptors.begin());
            m_driver.handleDescriptors(driverDescriptors);
        }
        runTimers();
        if (descriptors[0].revents && m_termination.take())
            beginStop("stop SIGTERM");
        if (descriptors[1].revents && m_socket.isListening())
            acceptClients();
        for (std::size_t i = 0; i < clientCount; ++i) {
            Client &client = *m_clients[i];
            const short events = descriptors[i + 2].revents;
            if (events & POLLOUT)
                client.lines.flush();
            if (!m_closeBy && (events & (POLLIN | POLLHUP | POLLERR)))
                serve(client);
            else if (events & (POLLHUP | POLLERR))
                client.lines.close();
        }
        std::erase_if(m_clients, [](const auto &client) { return !client->lines.isOpen(); });
    }
    m_clients.clear();
    m_socket.close();
    return 0;
}

void Provider::setStatus(Status status, std::string reason)
{
    if (status == m_status || m_status == Status::Disconnected)
        return;
    m_status = status;
    if (status == Status::Disconnected)
        m_reason = std::move(reason);
    m_log.append("status " + std::to_string(int(status))
                 + (m_reason.empty() ? std::string() : " (" + m_reason + ")"));
    const std::string push = statusPush(status, m_reason);
    bool heard = false;
    for (const auto &client : m_clients) {
        if (client->subscribed) {
            client->lines.send(push);
            heard = true;
        }
    }
    if (status != Status::Disconnected)
        return;
    if (heard || m_reason.empty())
        closeDown();
    else
        m_lingerUntil = Clock::now() + reasonLinger;
}

void Provider::closeDown()
{
    // Gone from the path first, so a client that sees its connection end finds no socket.
    m_lingerUntil.reset();
    m_socket.close();
    m_closeBy = Clock::now() + closingGrace;
}

void Provider::beginStop(std::string_view cause)
{
    if (m_stopping || m_status == Status::Disconnected)
        return;
    m_stopping = true;
    m_log.append(cause);
    setStatus(Status::Disconnecting);
    m_driver.stop();
}

void Provider::runTimers()
{
    if (m_lingerUntil && Clock::now() >= *m_lingerUntil)
        closeDown();
    const std::optional<Clock::time_point> deadline = m_driver.nextDeadline();
    if (m_status != Status::Disconnected && deadline && Clock::now() >= *deadline)
        m_driver.runTimers(Clock::now());
}

void Provider::acceptClients()
{
    for (int fd = m_socket.acceptClient(); fd >= 0; fd = m_socket.acceptClient())
        m_clients.push_back(std::make_unique<Client>(fd));
}

void Provider::serve(Client &client)
{
    client.lines.receive();
    while (const std::optional<std::string> line = client.lines.nextLine())
        handleLine(client, *line);
}

void Provider::handleLine(Client &client, std::string_view line)
{
    const auto parsed = parseRequest(line);
    if (const auto *error = std::get_if<RequestError>(&parsed)) {
        client.lines.send(errorReply(*error));
        return;
    }
    const Request &request = std::get<Request>(parsed);
    switch (request.type) {
    case Request::Type::Subscribe:
        client.subscribed = true;
        client.lines.send(statusReply(request.id, m_status, m_reason));
        if (m_lingerUntil)
            closeDown(); // the reason has been heard
        break;
    case Request::Type::Status:
        client.lines.send(statusReply(request.id, m_status, m_reason));
        if (m_lingerUntil)
            closeDown();
        break;
    case Request::Type::Message:
        client.lines.send(messageReply(request.id, m_driver.handleMessage(request.data, m_status)));
        break;
    case Request::Type::Stop:
        client.lines.send(stoppingReply(request.id));
        beginStop("stop");
        break;
    }
}

bool Provider::finished() const
{
    if (!m_closeBy)
        return false;
    const bool flushed = std::none_of(m_clients.begin(), m_clients.end(), [](const auto &client) {
        return client->lines.hasPendingOutput();
    });
    return flushed || Clock::now() >= *m_closeBy;
}

int Provider::pollTimeout() const
{
    std::optional<Clock::time_point> next = m_closeBy;
    if (m_lingerUntil)
        next = m_lingerUntil;
    else if (m_status != Status::Disconnected)
        next = m_driver.nextDeadline();
    if (!next)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

} // namespace TunnelProvider
