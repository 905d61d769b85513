#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace TunnelProvider {

enum class RoutingMode { Rule, Global };

std::string_view routingModeName(RoutingMode mode);
std::optional<RoutingMode> routingModeFromName(std::string_view name);

// What the app hands over on standard input when it starts the provider.
struct StartOptions
{
    std::string subuuid;
    std::string host;
    std::string nodeName;
    RoutingMode tunMode = RoutingMode::Rule;

    // One JSON object; unknown keys are ignored, missing or non-string values count as empty
    // (the rule mode for tunMode). Nothing when the text is not a JSON object.
    static std::optional<StartOptions> parse(std::string_view text);

    // The options as JSON for the log, the subscription uuid masked.
    std::string maskedJson() const;
};

} // namespace TunnelProvider
