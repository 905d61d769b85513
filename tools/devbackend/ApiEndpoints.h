#pragma once

#include "Envelope.h"
#include "RequestParameters.h"

#include <ctime>
#include <optional>
#include <string>

namespace httplib {
struct Request;
}

namespace Dev {

class Account;
struct BackendState;

// The nine endpoints of the service's API that answer at once; getTunnel, which may wait for
// the device hook, is TunnelEndpoint.
class ApiEndpoints
{
public:
    explicit ApiEndpoints(BackendState &state)
        : m_state(state)
    { }

    // The answer to an API request, or nothing for a path the service does not have. The caller
    // holds the state's lock.
    std::optional<Result> handle(const httplib::Request &request, std::time_t now);

private:
    Result login(const Parameters &parameters, std::time_t now);
    Result registerAccount(const Parameters &parameters, std::time_t now);
    Result resetPassword(const Parameters &parameters, std::time_t now);
    Result sendEmailCode(const Parameters &parameters, std::time_t now);
    Result userInfo(const Account &account);
    Result publicSetting();
    Result serviceList(const Account &account, std::time_t now);
    Result nodeNames();
    Result subscribeNodes(const httplib::Request &request, const Account &account);

    Result signedIn(Account &account, std::time_t now);
    Account *authenticated(const httplib::Request &request, std::time_t now);

    BackendState &m_state;
};

} // namespace Dev
