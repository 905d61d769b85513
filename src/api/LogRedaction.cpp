#include "LogRedaction.h"

#include <array>
#include <strings.h>

namespace LogRedaction {

namespace {

constexpr const char redactedText[] = "<redacted>";

} // namespace

bool isSecretName(std::string_view name)
{
    static constexpr std::array<std::string_view, 10> secrets = {"token",
                                                                 "authorization",
                                                                 "password",
                                                                 "re_password",
                                                                 "email_code",
                                                                 "sub_uuid",
                                                                 "subuuid",
                                                                 "accountpw",
                                                                 "cookie",
                                                                 "set-cookie"};
    for (const auto secret : secrets) {
        if (name.size() == secret.size()
            && ::strncasecmp(name.data(), secret.data(), name.size()) == 0)
            return true;
    }
    return false;
}

HTTPHeaders headers(const HTTPHeaders &headers)
{
    HTTPHeaders result;
    for (const auto &[name, value] : headers)
        result.emplace(name, isSecretName(name) ? redactedText : value);
    return result;
}

nlohmann::json json(const nlohmann::json &value)
{
    if (value.is_object()) {
        nlohmann::json result = nlohmann::json::object();
        for (const auto &[name, member] : value.items())
            result[name] = isSecretName(name) && !member.is_null() ? nlohmann::json(redactedText)
                                                                   : json(member);
        return result;
    }
    if (value.is_array()) {
        nlohmann::json result = nlohmann::json::array();
        for (const auto &element : value)
            result.push_back(json(element));
        return result;
    }
    return value;
}

std::string body(std::string_view body)
{
    const auto parsed = nlohmann::json::parse(body, nullptr, false);
    if (parsed.is_discarded())
        return "<" + std::to_string(body.size()) + " bytes>";
    return json(parsed).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace LogRedaction
