#include "TunnelMessages.h"

#include "platform/Log.h"

namespace ReferenceProvider {

namespace {

constexpr std::string_view subscriptionPrefix = "subuuid.";
constexpr std::string_view nodePrefix = "switchNode.";
constexpr std::string_view modePrefix = "tunMode.";
// The name the app uses for letting the service pick the node.
constexpr std::string_view automaticNode = "ZiDedadu";

} // namespace

TunnelMessages::TunnelMessages(std::string_view nodeName, RoutingMode mode)
    : m_mode(mode)
{
    selectNode(nodeName);
}

TunnelMessages::Outcome TunnelMessages::handle(std::string_view message, Status status)
{
    const std::string logged = "message " + std::string(message);
    if (message == "Hello")
        return {"hello from the reference provider, status " + std::to_string(int(status)), logged};
    if (message.starts_with(subscriptionPrefix)) {
        const std::string masked = Platform::Log::masked(message.substr(subscriptionPrefix.size()));
        return {"subscription received", "message " + std::string(subscriptionPrefix) + masked};
    }
    if (message.starts_with(nodePrefix)) {
        selectNode(message.substr(nodePrefix.size()));
        if (m_node.empty())
            return {"switched to automatic selection", logged};
        return {"switched to node " + m_node, logged};
    }
    if (message.starts_with(modePrefix)) {
        if (const auto mode = TunnelProvider::routingModeFromName(
                message.substr(modePrefix.size()))) {
            m_mode = *mode;
            return {"routing mode " + std::string(TunnelProvider::routingModeName(m_mode)), logged};
        }
    }
    return {"unknown message", logged};
}

void TunnelMessages::selectNode(std::string_view name)
{
    m_node = name == automaticNode ? std::string() : std::string(name);
}

} // namespace ReferenceProvider
