#pragma once

#include "DevBackend.h"
#include "TemporaryHome.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>

// The envelope's code, or -1 for anything that is not an envelope.
int codeOf(const nlohmann::json &envelope);

// A WireGuard public key as a device sends it: 32 bytes as 44 characters of base64, all but the
// last two of them the given one.
std::string publicKeyOf(char fill);

// Speaks to a development backend the way the client does: JSON bodies, the token in a header,
// the reply's envelope parsed. A reply that is not an envelope fails the test and comes back as
// null.
class BackendClient
{
public:
    explicit BackendClient(const std::string &baseUrl);

    nlohmann::json get(const std::string &target, const std::string &token = {});
    nlohmann::json post(const std::string &path,
                        const nlohmann::json &body,
                        const std::string &token = {});
    nlohmann::json remove(const std::string &path);

    // Signs in and returns the token, or an empty string (after failing the test).
    std::string signIn(const std::string &email, const std::string &password);
    // The code last mailed to the address, read from the admin interface.
    std::string lastCode(const std::string &email);

    httplib::Client &http() { return m_http; }

private:
    nlohmann::json envelopeOf(const httplib::Result &result);

    httplib::Client m_http;
};

// A backend serving an ephemeral port from a fresh data directory, with its log kept in memory.
class InProcessBackend
{
public:
    InProcessBackend();

    std::filesystem::path dataDirectory() const { return home.root() / "devbackend"; }
    // Stops the backend and returns everything it logged.
    std::string stopAndReadLog();

    TemporaryHome home;
    std::ostringstream log;
    DevBackend backend;
    BackendClient client;
};
