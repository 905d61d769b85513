#pragma once

#include "StoredPreferences.h"

#include <nlohmann/json.hpp>

#include <array>
#include <string>

// The service's nine calls.
enum class Endpoint {
    login,
    registerAccount,
    resetPassword,
    emailCode,
    userInfo,
    publicSetting,
    serviceList,
    nodeNames,
    subscribeNodeList,
};

inline constexpr std::array<Endpoint, 9> allEndpoints = {Endpoint::login,
                                                         Endpoint::registerAccount,
                                                         Endpoint::resetPassword,
                                                         Endpoint::emailCode,
                                                         Endpoint::userInfo,
                                                         Endpoint::publicSetting,
                                                         Endpoint::serviceList,
                                                         Endpoint::nodeNames,
                                                         Endpoint::subscribeNodeList};

std::string name(Endpoint endpoint);

// The path the call asks for, without its query.
std::string path(Endpoint endpoint);

// The data of a well-formed reply to the call, with values unlike the arranged preferences' (see
// StoredPreferences), and the envelope the service wraps data in.
nlohmann::json validData(Endpoint endpoint);
std::string envelope(const nlohmann::json &data, int code = 0, const std::string &message = "");

// What the client stores of validData, and what the caller hears of it (see ClientCalls).
Changes validEffect(Endpoint endpoint);
std::string validReport(Endpoint endpoint);

// The record the client keeps of validData's user, from a sign-in or a user-info reply.
Platform::PropertyValue storedRecord(Endpoint endpoint);

// What the client does with the session when the service says it has expired.
Changes sessionCleared();
