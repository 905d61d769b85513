#include "StartOptions.h"

#include "platform/Log.h"
#include "platform/PropertyValue.h"

#include <nlohmann/json.hpp>

namespace TunnelProvider {

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
    options.subuuid = Platform::stringMember(object, "subuuid").value_or("");
    options.host = Platform::stringMember(object, "host").value_or("");
    options.nodeName = Platform::stringMember(object, "nodeName").value_or("");
    options.tunMode = routingModeFromName(Platform::stringMember(object, "tunMode").value_or(""))
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

} // namespace TunnelProvider
