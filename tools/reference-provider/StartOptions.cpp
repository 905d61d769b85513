#include "StartOptions.h"

#include "platform/Log.h"

#include <nlohmann/json.hpp>

namespace ReferenceProvider {

namespace {

std::string stringMember(const nlohmann::json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return {};
    return it->get<std::string>();
}

} // namespace

std::string_view routingModeName(RoutingMode mode)
{
    return mode == RoutingMode::Global ? "global" : "rule";
}

std::optional<RoutingMode> routingModeFromName(std::string_view name)
{
    if (name == "rule")
        return RoutingMode::Rule;
    if (name == "global")
        return RoutingMode::Global;
    return std::nullopt;
}

std::optional<StartOptions> StartOptions::parse(std::string_view text)
{
    const nlohmann::json object = nlohmann::json::parse(text, nullptr, false);
    if (!object.is_object())
        return std::nullopt;
    StartOptions options;
    options.subuuid = stringMember(object, "subuuid");
    options.host = stringMember(object, "host");
    options.nodeName = stringMember(object, "nodeName");
    options.tunMode = routingModeFromName(stringMember(object, "tunMode"))
                          .value_or(RoutingMode::Rule);
    return options;
}

std::string StartOptions::maskedJson() const
{
    const nlohmann::json object = {{"subuuid", Platform::Log::masked(subuuid)},
                                   {"host", host},
                                   {"nodeName", nodeName},
                                   {"tunMode", routingModeName(tunMode)}};
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace ReferenceProvider
