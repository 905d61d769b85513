#pragma once

#include "TunnelData.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TunnelProvider::NodeChoice {

// The node name the app sends for "pick the best node for me".
inline constexpr std::string_view automaticName = "ZiDedadu";

bool isAutomatic(std::string_view name);

// Median round trips in milliseconds by endpoint text; nothing for an endpoint that never
// answered.
using Latencies = std::map<std::string, std::optional<double>>;

// The service's answer to a latency request; endpoints it left out are missing.
Latencies latenciesFrom(const nlohmann::json &reply);

// The nodes in the order to try them. A named node that exists comes first and the others
// follow in the list's order, in case it does not answer. Automatically (or for a name the list
// does not have), the fastest come first and the silent ones last, in the list's order.
std::vector<TunnelNode> candidates(const TunnelData &data,
                                   std::string_view name,
                                   const Latencies &latencies);

// Whether a connected tunnel should move to the fastest node: only when it is clearly faster,
// so that measurement noise does not make it hop between nodes.
bool clearlyBetter(std::optional<double> fastest, std::optional<double> current);

} // namespace TunnelProvider::NodeChoice
