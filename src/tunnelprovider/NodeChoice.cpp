#include "NodeChoice.h"

#include <algorithm>

namespace TunnelProvider::NodeChoice {

namespace {

// Faster by at least this much, and by this share of the current round trip.
constexpr double clearMarginMs = 10.0;
constexpr double clearShare = 0.2;

} // namespace

bool isAutomatic(std::string_view name)
{
    return name.empty() || name == automaticName;
}

Latencies latenciesFrom(const nlohmann::json &reply)
{
    Latencies latencies;
    const auto results = reply.find("results");
    if (results == reply.end() || !results->is_array())
        return latencies;
    for (const nlohmann::json &result : *results) {
        if (!result.is_object())
            continue;
        const auto endpoint = result.find("endpoint");
        const auto milliseconds = result.find("milliseconds");
        if (endpoint == result.end() || !endpoint->is_string() || milliseconds == result.end())
            continue;
        latencies[endpoint->get<std::string>()] = milliseconds->is_number()
                                                      ? std::optional(milliseconds->get<double>())
                                                      : std::nullopt;
    }
    return latencies;
}

std::vector<TunnelNode> candidates(const TunnelData &data,
                                   std::string_view name,
                                   const Latencies &latencies)
{
    std::vector<TunnelNode> nodes = data.nodes;
    if (!isAutomatic(name) && data.node(name)) {
        std::stable_partition(nodes.begin(), nodes.end(), [name](const TunnelNode &node) {
            return node.name == name;
        });
        return nodes;
    }
    const auto latencyOf = [&latencies](const TunnelNode &node) -> std::optional<double> {
        const auto found = latencies.find(node.endpoint.text());
        return found == latencies.end() ? std::nullopt : found->second;
    };
    std::stable_sort(nodes.begin(), nodes.end(), [&](const TunnelNode &a, const TunnelNode &b) {
        const std::optional<double> left = latencyOf(a);
        const std::optional<double> right = latencyOf(b);
        if (left && right)
            return *left < *right;
        return left.has_value() && !right.has_value();
    });
    return nodes;
}

bool clearlyBetter(std::optional<double> fastest, std::optional<double> current)
{
    if (!fastest)
        return false;
    if (!current)
        return true;
    const double gain = *current - *fastest;
    return gain >= clearMarginMs && gain >= clearShare * *current;
}

} // namespace TunnelProvider::NodeChoice
