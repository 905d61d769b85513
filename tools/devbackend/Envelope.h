#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace Dev {

// The codes the service puts in its replies' "code" member.
enum ResultCode : int {
    Success = 0,
    BadParameter = 10000,
    WrongCredentials = 10001,
    AlreadyRegistered = 10002,
    BadEmailCode = 10003,
    BadEmailAddress = 10004,
    NoSuchAccount = 10005,
    NoSuchSubscription = 10006,
    MembershipExpired = 10007,
    TrafficUsedUp = 10008,
    NotSignedIn = 40101,
    ServerError = 500, // goes out with HTTP status 500
};

// What one endpoint answers, before it is wrapped in the envelope.
struct Result
{
    int code = Success;
    nlohmann::json data;
};

Result success(nlohmann::json data = nullptr);
Result failure(int code);

// The text the service shows beside a code.
std::string messageFor(int code);

// {"code": ..., "msg": ..., "data": ...} as text.
std::string envelopeText(int code, std::string_view message, const nlohmann::json &data = nullptr);
std::string envelopeText(const Result &result);

// Never throws on text that is not UTF-8 (header values can be anything); bad bytes become U+FFFD.
std::string jsonText(const nlohmann::json &value);

} // namespace Dev
