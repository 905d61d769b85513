#pragma once

#include "DevBackend.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

// The development backend, serving in this process on an ephemeral port with its data in the
// given directory, and its /_dev/ calls for arranging state and reading what clients sent.
class RunningBackend
{
public:
    explicit RunningBackend(const std::filesystem::path &dataDirectory);

    // Stops serving, as a backend that went away; start() brings it back on the same port with
    // the same accounts (what lives only in memory, such as faults and codes, starts afresh).
    void stop();
    void start();

    const std::string &origin() const { return m_origin; }
    // For ORVANE_API_BASE_URLS: this backend as each of the three built-in base URLs.
    std::string asEveryBaseUrl() const { return m_origin + " " + m_origin + " " + m_origin; }

    // A /_dev/ call; returns the envelope's "data".
    nlohmann::json admin(const std::string &method,
                         const std::string &path,
                         const nlohmann::json &body = nullptr);

    // The API requests received so far, oldest first; forgets them.
    nlohmann::json takeRequests();

    // Signs in over the API and returns the token.
    std::string signIn(const std::string &account, const std::string &password);

    std::string log() const { return m_log.str(); }

private:
    std::ostringstream m_log;
    std::filesystem::path m_dataDirectory;
    int m_port = 0; // ephemeral at first, then kept across restarts
    std::unique_ptr<DevBackend> m_backend;
    std::string m_origin;
};
