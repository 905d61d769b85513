#pragma once

#include "platform/SystemExtensions.h"

#include <memory>
#include <vector>

// Keeps the requests it is given; the test then plays the system's part for the latest one:
// the replacement question, the approval, the result or the failure.
class ScriptedSystemExtensionManager : public Platform::SystemExtensionManager
{
public:
    void submitRequest(std::shared_ptr<Platform::SystemExtensionRequest> request) override
    {
        requests.push_back(std::move(request));
    }

    Platform::SystemExtensionReplacementAction askToReplace(const std::string &installedVersion,
                                                            const std::string &newVersion);
    void needApproval();
    void finish(Platform::SystemExtensionRequestResult result);
    void fail(const Platform::SystemExtensionError &error);

    std::vector<std::shared_ptr<Platform::SystemExtensionRequest>> requests;

private:
    std::shared_ptr<Platform::SystemExtensionRequestDelegate> delegate() const;
};
