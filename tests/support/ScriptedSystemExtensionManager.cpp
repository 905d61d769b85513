#include "ScriptedSystemExtensionManager.h"

#include <stdexcept>

std::shared_ptr<Platform::SystemExtensionRequestDelegate> ScriptedSystemExtensionManager::delegate()
    const
{
    if (requests.empty())
        throw std::logic_error("no request was submitted");
    auto delegate = requests.back()->delegate.lock();
    if (!delegate)
        throw std::logic_error("the request has no delegate");
    return delegate;
}

Platform::SystemExtensionReplacementAction ScriptedSystemExtensionManager::askToReplace(
    const std::string &installedVersion, const std::string &newVersion)
{
    Platform::SystemExtensionProperties installed{"com.qaromac.wv.sysne", "1", installedVersion, {}};
    Platform::SystemExtensionProperties replacement{"com.qaromac.wv.sysne", "1", newVersion, {}};
    return delegate()->actionForReplacingExtension(*requests.back(), installed, replacement);
}

void ScriptedSystemExtensionManager::needApproval()
{
    delegate()->requestNeedsUserApproval(*requests.back());
}

void ScriptedSystemExtensionManager::finish(Platform::SystemExtensionRequestResult result)
{
    delegate()->didFinishWithResult(*requests.back(), result);
}

void ScriptedSystemExtensionManager::fail(const Platform::SystemExtensionError &error)
{
    delegate()->didFailWithError(*requests.back(), error);
}
