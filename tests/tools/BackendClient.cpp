#include "BackendClient.h"

#include <gtest/gtest.h>

namespace {

httplib::Headers headersWith(const std::string &token)
{
    if (token.empty())
        return {};
    return {{"token", token}};
}

DevBackend::Options optionsFor(const TemporaryHome &home, std::ostream &log)
{
    DevBackend::Options options;
    options.dataDirectory = home.root() / "devbackend";
    options.log = &log;
    return options;
}

std::string startedUrl(DevBackend &backend)
{
    EXPECT_TRUE(backend.start()) << backend.error();
    return backend.baseUrl();
}

} // namespace

int codeOf(const nlohmann::json &envelope)
{
    return envelope.is_object() && envelope.contains("code") ? envelope["code"].get<int>() : -1;
}

std::string publicKeyOf(char fill)
{
    // "A=" ends it with the two zero bits base64 leaves over from 32 bytes.
    return std::string(42, fill) + "A=";
}

BackendClient::BackendClient(const std::string &baseUrl)
    : m_http(baseUrl)
{
    m_http.set_connection_timeout(std::chrono::seconds(20));
    m_http.set_read_timeout(std::chrono::seconds(60));
}

nlohmann::json BackendClient::get(const std::string &target, const std::string &token)
{
    return envelopeOf(m_http.Get(target, headersWith(token)));
}

nlohmann::json BackendClient::post(const std::string &path,
                                   const nlohmann::json &body,
                                   const std::string &token)
{
    return envelopeOf(m_http.Post(path, headersWith(token), body.dump(), "application/json"));
}

nlohmann::json BackendClient::remove(const std::string &path)
{
    return envelopeOf(m_http.Delete(path));
}

std::string BackendClient::signIn(const std::string &email, const std::string &password)
{
    nlohmann::json reply = post("/api/public/user/login",
                                {{"user_name", email},
                                 {"password", password},
                                 {"email_code", ""},
                                 {"device_id", "test-device"}});
    if (codeOf(reply) != 0 || !reply["data"].is_object() || !reply["data"]["token"].is_string()) {
        ADD_FAILURE() << "cannot sign in as " << email << ": " << reply.dump();
        return {};
    }
    return reply["data"]["token"].get<std::string>();
}

std::string BackendClient::lastCode(const std::string &email)
{
    nlohmann::json reply = get("/_dev/codes?email=" + email);
    if (codeOf(reply) != 0 || !reply["data"].is_object()) {
        ADD_FAILURE() << "no code for " << email << ": " << reply.dump();
        return {};
    }
    return reply["data"]["code"].get<std::string>();
}

nlohmann::json BackendClient::envelopeOf(const httplib::Result &result)
{
    if (!result) {
        ADD_FAILURE() << "request failed: " << httplib::to_string(result.error());
        return nullptr;
    }
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    nlohmann::json envelope = nlohmann::json::parse(result->body, nullptr, false);
    if (!envelope.is_object() || !envelope.contains("code") || !envelope.contains("msg")
        || !envelope.contains("data")) {
        ADD_FAILURE() << "not an envelope (HTTP " << result->status << "): " << result->body;
        return nullptr;
    }
    return envelope;
}

InProcessBackend::InProcessBackend()
    : backend(optionsFor(home, log))
    , client(startedUrl(backend))
{ }

std::string InProcessBackend::stopAndReadLog()
{
    backend.stop();
    return log.str();
}
