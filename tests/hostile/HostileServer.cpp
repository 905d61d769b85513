#include "HostileServer.h"

HostileServer::HostileServer()
{
    const auto handler = [this](const httplib::Request &request, httplib::Response &response) {
        respond(request, response);
    };
    m_server.server().Get(".*", handler);
    m_server.server().Post(".*", handler);
    m_server.start();
}

void HostileServer::answer(const std::string &path, Responder responder)
{
    std::lock_guard lock(m_mutex);
    m_responders[path] = std::move(responder);
}

void HostileServer::answer(const std::string &path, std::string body)
{
    answer(path, [body = std::move(body)](const httplib::Request &, httplib::Response &response) {
        response.set_content(body, "application/json");
    });
}

void HostileServer::clear()
{
    std::lock_guard lock(m_mutex);
    m_responders.clear();
}

int HostileServer::requests(const std::string &path) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_requests.find(path);
    return it == m_requests.end() ? 0 : it->second;
}

int HostileServer::requests() const
{
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const auto &[path, requests] : m_requests)
        count += requests;
    return count;
}

void HostileServer::respond(const httplib::Request &request, httplib::Response &response)
{
    Responder responder;
    {
        std::lock_guard lock(m_mutex);
        ++m_requests[request.path];
        if (const auto it = m_responders.find(request.path); it != m_responders.end())
            responder = it->second;
    }
    if (responder) {
        responder(request, response);
        return;
    }
    response.status = 404;
    response.set_content(R"({"code": 404, "msg": "not found", "data": null})", "application/json");
}
