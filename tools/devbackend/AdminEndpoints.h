#pragma once

#include "Envelope.h"

#include <ctime>
#include <optional>

namespace httplib {
struct Request;
}

namespace Dev {

struct BackendState;

// The /_dev/ calls with which tests and developers arrange the backend's state.
class AdminEndpoints
{
public:
    explicit AdminEndpoints(BackendState &state)
        : m_state(state)
    { }

    // The answer to an admin call, or nothing for an unknown one. The caller holds the lock.
    std::optional<Result> handle(const httplib::Request &request, std::time_t now);

private:
    Result upsertUser(const nlohmann::json &body, std::time_t now);
    Result setNodes(const nlohmann::json &body);
    Result setPublicSetting(const nlohmann::json &body);
    Result addFault(const nlohmann::json &body);
    Result expireTokens(const nlohmann::json &body);
    Result setTunnel(const nlohmann::json &body);
    nlohmann::json tunnelSettings() const;
    Result lastCode(const httplib::Request &request);

    BackendState &m_state;
};

} // namespace Dev
