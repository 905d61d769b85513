#pragma once

#include "DeviceHook.h"
#include "Envelope.h"

#include <ctime>
#include <mutex>
#include <optional>
#include <string>

namespace httplib {
struct Request;
}

namespace Dev {

struct BackendState;

// POST /api/public/sub/getTunnel: registers a device's WireGuard public key for a subscription
// and answers what the device needs for its tunnel. A key's first registration runs the device
// hook, when there is one, before the answer; a hook that fails leaves the key unregistered.
class TunnelEndpoint
{
public:
    TunnelEndpoint(BackendState &state, std::optional<DeviceHook> hook)
        : m_state(state)
        , m_hook(std::move(hook))
    { }

    bool serves(const httplib::Request &request) const;

    // The answer. Takes the state's lock itself, and lets go of it while the hook runs so that
    // other requests are answered meanwhile.
    Result handle(const httplib::Request &request, std::time_t now);

private:
    struct Registration
    {
        std::string publicKey;
        std::optional<std::string> newAddress; // set when the key is not registered yet
    };

    // The answer as it will be once the key is registered; the caller holds the state's lock.
    Result prepare(const std::string &body, std::time_t now, Registration &registration);

    BackendState &m_state;
    std::optional<DeviceHook> m_hook;
    std::mutex m_registering; // one request at a time, so a new key's hook runs once
};

} // namespace Dev
