#pragma once

#include "AccountStore.h"
#include "DeviceRegistry.h"
#include "EmailCodes.h"
#include "FaultPlan.h"
#include "LineLog.h"
#include "NodeCatalog.h"
#include "TunnelCatalog.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Dev {

// Everything the backend knows, behind one lock that request handlers hold while they look.
struct BackendState
{
    BackendState(std::filesystem::path dataDirectory, std::ostream &logStream)
        : accounts(std::move(dataDirectory))
        , log(logStream)
    { }

    // Writes the accounts out after a change; a failure is reported but the change stands.
    void saveAccounts()
    {
        if (const std::string error = accounts.save(); !error.empty())
            std::cerr << "devbackend: " << error << std::endl;
    }

    std::mutex mutex;
    AccountStore accounts;
    EmailCodes codes;
    FaultPlan faults;
    NodeCatalog nodes;
    TunnelCatalog tunnel;
    DeviceRegistry devices;
    std::optional<std::string> backendUrl; // nothing: the server's own base URLs
    std::vector<std::string> ownBaseUrls;
    std::vector<nlohmann::json> requests; // what API clients sent, oldest first
    LineLog log;
};

} // namespace Dev
