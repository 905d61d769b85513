#include "DevBackend.h"

#include "AdminEndpoints.h"
#include "ApiEndpoints.h"
#include "BackendState.h"
#include "Envelope.h"
#include "Pages.h"
#include "TunnelEndpoint.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include <sys/socket.h>

namespace {

constexpr const char *JsonType = "application/json";

// Names httplib adds to a request's headers itself; they are not what the client sent.
bool isAddedByServer(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR"
           || name == "LOCAL_PORT";
}

std::string lowerCase(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

nlohmann::json recordOf(const httplib::Request &request)
{
    nlohmann::json headers = nlohmann::json::object();
    for (const auto &[name, value] : request.headers) {
        if (isAddedByServer(name))
            continue;
        const std::string key = lowerCase(name);
        if (headers.contains(key))
            headers[key] = headers[key].get<std::string>() + ", " + value;
        else
            headers[key] = value;
    }
    const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    return {{"method", request.method},
            {"path", request.path},
            {"target", request.target},
            {"headers", headers},
            {"body", body.is_discarded() ? nlohmann::json(nullptr) : body}};
}

void setEnvelope(httplib::Response &response, const Dev::Result &result)
{
    // The service's 500 envelope comes with the HTTP status to match.
    response.status = result.code == Dev::ServerError ? 500 : 200;
    response.set_content(Dev::envelopeText(result), JsonType);
}

void setNotFound(httplib::Response &response)
{
    response.status = 404;
    response.set_content(Dev::envelopeText(404, "not found"), JsonType);
}

std::optional<Dev::DeviceHook> hookFor(const std::filesystem::path &program)
{
    if (program.empty())
        return std::nullopt;
    return Dev::DeviceHook(program);
}

} // namespace

DevBackend::DevBackend(Options options)
    : m_options(std::move(options))
    , m_state(std::make_unique<Dev::BackendState>(m_options.dataDirectory,
                                                  m_options.log ? *m_options.log : std::cout))
    , m_api(std::make_unique<Dev::ApiEndpoints>(*m_state))
    , m_admin(std::make_unique<Dev::AdminEndpoints>(*m_state))
    , m_tunnel(std::make_unique<Dev::TunnelEndpoint>(*m_state, hookFor(m_options.deviceHook)))
{ }

DevBackend::~DevBackend()
{
    stop();
}

bool DevBackend::start()
{
    if (!m_servers.empty()) {
        m_error = "already started";
        return false;
    }
    {
        const std::lock_guard lock(m_state->mutex);
        m_stopRequested = false;
        const Dev::AccountStore::LoadOutcome outcome = m_state->accounts.load(std::time(nullptr));
        if (outcome.movedAside) {
            std::cerr << "devbackend: " << m_state->accounts.file().string()
                      << " does not parse; moved it to " << outcome.movedAside->string()
                      << " and started with a fresh one" << std::endl;
        }
        if (!outcome.error.empty()) {
            m_error = outcome.error;
            return false;
        }
    }

    for (const int port : m_options.ports) {
        if (!listenOn(port)) {
            stop();
            return false;
        }
    }

    const std::lock_guard lock(m_state->mutex);
    m_state->ownBaseUrls.clear();
    for (std::size_t i = 0; i < m_ports.size(); ++i)
        m_state->ownBaseUrls.push_back(baseUrl(i));
    return true;
}

bool DevBackend::listenOn(int port)
{
    auto server = std::make_unique<httplib::Server>();
    server->set_tcp_nodelay(true);
    server->set_keep_alive_max_count(1000);
    // An idle connection is closed at once: back-to-back requests still share one, and stop()
    // does not wait out the idle time of a client that keeps its connections open.
    server->set_keep_alive_timeout(0);
    // Only SO_REUSEADDR: httplib's default also sets SO_REUSEPORT, which would let a second
    // server bind a port that is already being served.
    server->set_socket_options([](int socket) {
        const int on = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    const auto handler = [this](const httplib::Request &request, httplib::Response &response) {
        serve(request, response);
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Delete(".*", handler);

    errno = 0;
    int bound = port;
    if (port == 0)
        bound = server->bind_to_any_port("127.0.0.1");
    else if (!server->bind_to_port("127.0.0.1", port))
        bound = -1;
    if (bound <= 0) {
        const int error = errno;
        m_error = "cannot listen on 127.0.0.1:" + std::to_string(port)
                  + (error ? std::string(": ") + std::strerror(error) : std::string());
        return false;
    }

    httplib::Server *listening = server.get();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    m_threads.emplace_back([listening, finished] {
        listening->listen_after_bind();
        *finished = true;
    });
    // stop() only reaches a server that is already in its accept loop.
    while (!listening->is_running() && !*finished)
        std::this_thread::yield();
    m_servers.push_back(std::move(server));
    m_ports.push_back(bound);
    return true;
}

void DevBackend::stop()
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_stopRequested = true;
    }
    m_stopping.notify_all();
    for (const auto &server : m_servers)
        server->stop();
    for (std::thread &thread : m_threads)
        thread.join();
    m_threads.clear();
    m_servers.clear();
    m_ports.clear();
}

std::vector<int> DevBackend::ports() const
{
    return m_ports;
}

std::string DevBackend::baseUrl(std::size_t index) const
{
    if (index >= m_ports.size())
        return {};
    return "http://127.0.0.1:" + std::to_string(m_ports[index]);
}

const std::string &DevBackend::error() const
{
    return m_error;
}

void DevBackend::serve(const httplib::Request &request, httplib::Response &response)
{
    if (request.path.starts_with("/api/")) {
        serveApi(request, response);
        return;
    }
    if (request.path.starts_with("/_dev/")) {
        serveAdmin(request, response);
        return;
    }
    if (const std::optional<Dev::Page> page = Dev::pageFor(request)) {
        response.set_content(page->body, page->contentType);
        return;
    }
    response.status = 404;
    response.set_content("not found\n", "text/plain; charset=utf-8");
}

void DevBackend::serveApi(const httplib::Request &request, httplib::Response &response)
{
    std::optional<Dev::Fault> fault;
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->requests.push_back(recordOf(request));
        fault = m_state->faults.take(request.path);
    }
    if (fault && fault->delayMs > 0)
        waitUnlessStopping(std::chrono::milliseconds(fault->delayMs));

    std::string outcome;
    if (fault && fault->kind != Dev::Fault::Kind::Delay) {
        answerWithFault(*fault, response);
        outcome = "fault " + std::to_string(response.status);
    } else {
        std::optional<Dev::Result> result;
        if (m_tunnel->serves(request)) {
            result = m_tunnel->handle(request, std::time(nullptr));
        } else {
            const std::lock_guard lock(m_state->mutex);
            result = m_api->handle(request, std::time(nullptr));
        }
        if (result) {
            setEnvelope(response, *result);
            outcome = std::to_string(result->code);
        } else {
            setNotFound(response);
            outcome = "404";
        }
    }
    m_state->log.write("devbackend: " + request.method + " " + request.path + " -> " + outcome);
}

void DevBackend::serveAdmin(const httplib::Request &request, httplib::Response &response)
{
    std::optional<Dev::Result> result;
    {
        const std::lock_guard lock(m_state->mutex);
        result = m_admin->handle(request, std::time(nullptr));
    }
    if (result)
        setEnvelope(response, *result);
    else
        setNotFound(response);
}

void DevBackend::answerWithFault(const Dev::Fault &fault, httplib::Response &response)
{
    using Kind = Dev::Fault::Kind;
    switch (fault.kind) {
    case Kind::Delay:
        break;
    case Kind::NonJson:
        response.status = 200;
        response.set_content("<html>oops</html>", "text/html");
        break;
    case Kind::Empty:
        response.status = 200;
        response.set_content("", JsonType);
        break;
    case Kind::NoContent:
        response.status = 204;
        break;
    case Kind::ServerError:
        setEnvelope(response, Dev::failure(Dev::ServerError));
        break;
    case Kind::SignedOut:
        setEnvelope(response, Dev::failure(Dev::NotSignedIn));
        break;
    case Kind::Redirect:
        response.status = 302;
        response.set_header("Location", "http://127.0.0.1:1/elsewhere");
        response.set_content(Dev::envelopeText(302, "moved"), JsonType);
        break;
    }
}

void DevBackend::waitUnlessStopping(std::chrono::milliseconds delay)
{
    std::unique_lock lock(m_state->mutex);
    m_stopping.wait_for(lock, delay, [this] { return m_stopRequested; });
}
