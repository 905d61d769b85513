#pragma once

#include "tunnelprovider/Protocol.h"
#include "tunnelprovider/StartOptions.h"

#include <string>
#include <string_view>

namespace ReferenceProvider {

using TunnelProvider::RoutingMode;
using TunnelProvider::Status;

// The app's messages to the tunnel: what they change, what is answered, and what is logged.
// Keeps the selected node (empty for automatic selection) and the routing mode.
class TunnelMessages
{
public:
    struct Outcome
    {
        std::string reply;
        std::string logLine; // the subscription uuid masked
    };

    TunnelMessages(std::string_view nodeName, RoutingMode mode);

    Outcome handle(std::string_view message, Status status);

private:
    void selectNode(std::string_view name);

    std::string m_node;
    RoutingMode m_mode;
};

} // namespace ReferenceProvider
