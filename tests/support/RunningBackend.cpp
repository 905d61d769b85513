#include "RunningBackend.h"

#include <httplib.h>

#include <stdexcept>

RunningBackend::RunningBackend(const std::filesystem::path &dataDirectory)
    : m_dataDirectory(dataDirectory)
{
    start();
    m_port = m_backend->ports().front();
    m_origin = m_backend->baseUrl();
}

void RunningBackend::stop()
{
    m_backend.reset();
}

void RunningBackend::start()
{
    if (m_backend)
        return;
    m_backend = std::make_unique<DevBackend>(DevBackend::Options{{m_port}, m_dataDirectory, &m_log});
    if (!m_backend->start())
        throw std::runtime_error("the development backend did not start: " + m_backend->error());
}

nlohmann::json RunningBackend::admin(const std::string &method,
                                     const std::string &path,
                                     const nlohmann::json &body)
{
    httplib::Client client(m_origin);
    httplib::Result result = method == "GET" ? client.Get(path)
                             : method == "DELETE"
                                 ? client.Delete(path)
                                 : client.Post(path, body.dump(), "application/json");
    if (!result || result->status != 200)
        throw std::runtime_error("admin call failed: " + method + " " + path);
    const auto envelope = nlohmann::json::parse(result->body);
    if (envelope.value("code", -1) != 0)
        throw std::runtime_error("admin call refused: " + result->body);
    return envelope["data"];
}

nlohmann::json RunningBackend::takeRequests()
{
    auto requests = admin("GET", "/_dev/requests");
    admin("DELETE", "/_dev/requests");
    return requests;
}

std::string RunningBackend::signIn(const std::string &account, const std::string &password)
{
    httplib::Client client(m_origin);
    const nlohmann::json body = {{"user_name", account},
                                 {"password", password},
                                 {"email_code", ""},
                                 {"device_id", "Linux-TEST"}};
    auto result = client.Post("/api/public/user/login", body.dump(), "application/json");
    if (!result)
        throw std::runtime_error("sign-in failed");
    return nlohmann::json::parse(result->body)["data"]["token"].get<std::string>();
}
