#pragma once

#include "URLRequest.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

// What of a request may reach a log: sign-in tokens, passwords, verification codes and
// subscription uuids never do, whether they travel in headers or in JSON members.
namespace LogRedaction {

bool isSecretName(std::string_view name);

HTTPHeaders headers(const HTTPHeaders &headers);
nlohmann::json json(const nlohmann::json &value);

// A body as it may be logged: redacted JSON, or only its size when it is not JSON.
std::string body(std::string_view body);

} // namespace LogRedaction
