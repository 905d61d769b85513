#include "TunnelEndpoint.h"

#include "BackendState.h"
#include "RequestParameters.h"

#include "platform/Base64.h"

#include <httplib.h>

namespace Dev {

namespace {

constexpr std::size_t KeyLength = 44;
constexpr std::size_t KeyBytes = 32;

// 32 bytes in standard base64 with its one "=", written the one way that encodes them.
bool isPublicKey(const std::string &text)
{
    if (text.size() != KeyLength)
        return false;
    const std::optional<std::string> bytes = Platform::Base64::decode(text);
    return bytes && bytes->size() == KeyBytes && Platform::Base64::encode(*bytes) == text;
}

// Enough of a key to tell devices apart in the log.
std::string maskedKey(const std::string &key)
{
    return key.substr(0, 4) + "****" + key.substr(key.size() - 4);
}

} // namespace

bool TunnelEndpoint::serves(const httplib::Request &request) const
{
    return request.method == "POST" && request.path == "/api/public/sub/getTunnel";
}

Result TunnelEndpoint::handle(const httplib::Request &request, std::time_t now)
{
    const std::lock_guard registering(m_registering);
    Registration registration;
    Result result;
    {
        const std::lock_guard lock(m_state.mutex);
        result = prepare(request.body, now, registration);
    }
    if (result.code != Success || !registration.newAddress)
        return result;

    if (m_hook) {
        const std::string error = m_hook->run(registration.publicKey, {*registration.newAddress});
        if (!error.empty()) {
            m_state.log.write("devbackend: device hook failed: " + error);
            return failure(ServerError);
        }
    }
    const std::lock_guard lock(m_state.mutex);
    m_state.devices.add(registration.publicKey);
    m_state.log.write("devbackend: device " + maskedKey(registration.publicKey) + " registered as "
                      + *registration.newAddress);
    return result;
}

Result TunnelEndpoint::prepare(const std::string &body, std::time_t now, Registration &registration)
{
    const std::optional<Parameters> parameters = parametersOf(body);
    if (!parameters || !hasAll(*parameters, {"sub_uuid", "public_key"})
        || !isPublicKey(parameters->at("public_key"))) {
        return failure(BadParameter);
    }
    const Account *account = m_state.accounts.findBySubscription(parameters->at("sub_uuid"));
    if (!account)
        return failure(NoSuchSubscription);
    const nlohmann::json service = account->serviceObject(now);
    if (!service["service_status"].get<bool>())
        return failure(MembershipExpired);
    if (!service["sub_status"].get<bool>())
        return failure(TrafficUsedUp);

    registration.publicKey = parameters->at("public_key");
    std::optional<std::string> address = m_state.devices.addressOf(registration.publicKey);
    if (!address) {
        registration.newAddress = m_state.devices.nextAddress();
        if (!registration.newAddress) {
            m_state.log.write("devbackend: no tunnel address left for device "
                              + maskedKey(registration.publicKey));
            return failure(ServerError);
        }
        address = registration.newAddress;
    }
    return success(m_state.tunnel.tunnelFor(m_state.nodes.subscriptionNamesFor(account->memberLevel),
                                            {*address}));
}

} // namespace Dev
