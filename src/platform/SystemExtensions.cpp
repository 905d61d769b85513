#include "SystemExtensions.h"

#include "Bundle.h"
#include "Dispatch.h"
#include "FileOperations.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>

namespace Platform {

std::shared_ptr<SystemExtensionRequest> SystemExtensionRequest::activationRequest(
    std::string identifier)
{
    return std::shared_ptr<SystemExtensionRequest>(
        new SystemExtensionRequest(std::move(identifier)));
}

SystemExtensionRequest::SystemExtensionRequest(std::string identifier)
    : m_identifier(std::move(identifier))
{ }

LocalSystemExtensionManager::LocalSystemExtensionManager(std::filesystem::path applicationBundle,
                                                         std::filesystem::path installedExtensions)
    : m_applicationBundle(std::move(applicationBundle))
    , m_installedExtensions(std::move(installedExtensions))
{ }

SystemExtensionProperties LocalSystemExtensionManager::properties(
    const std::filesystem::path &extension)
{
    const Bundle bundle(extension);
    return {bundle.identifier().value_or(std::string()),
            bundle.version().value_or(std::string()),
            bundle.shortVersion().value_or(std::string()),
            extension};
}

void LocalSystemExtensionManager::submitRequest(std::shared_ptr<SystemExtensionRequest> request)
{
    mainQueue().async([this, request] {
        if (auto delegate = request->delegate.lock())
            activate(*request, *delegate);
    });
}

void LocalSystemExtensionManager::activate(const SystemExtensionRequest &request,
                                           SystemExtensionRequestDelegate &delegate) const
{
    // Without a data directory of its own, the extension has nowhere to go: never the working
    // directory.
    if (m_installedExtensions.empty() || !m_installedExtensions.is_absolute()) {
        delegate.didFailWithError(request,
                                  {SystemExtensionError::unknown,
                                   "安装系统扩展失败：找不到用户数据目录。"});
        return;
    }
    const std::string name = request.identifier() + ".systemextension";
    const auto source = m_applicationBundle / "Contents" / "Library" / "SystemExtensions" / name;
    const auto installed = m_installedExtensions / name;
    std::error_code error;
    if (!isPlainFileName(request.identifier()) || !std::filesystem::is_directory(source, error)) {
        delegate.didFailWithError(request,
                                  {SystemExtensionError::extensionNotFound, "找不到系统扩展。"});
        return;
    }
    const auto extension = properties(source);
    if (extension.bundleIdentifier != request.identifier()) {
        delegate.didFailWithError(request,
                                  {SystemExtensionError::extensionMissingIdentifier,
                                   "系统扩展的标识符不符。"});
        return;
    }
    const bool replacing = std::filesystem::exists(installed, error);
    if (replacing
        && delegate.actionForReplacingExtension(request, properties(installed), extension)
               == SystemExtensionReplacementAction::cancel) {
        delegate.didFailWithError(request, {SystemExtensionError::requestCanceled, "请求已取消。"});
        return;
    }

    // Copy beside the installed copy, then swap the two in one step.
    std::string staging = (m_installedExtensions / ("." + name + ".staging-XXXXXX")).string();
    if (auto failed = createDirectories(m_installedExtensions, 0700)) {
        delegate.didFailWithError(request,
                                  {SystemExtensionError::unknown,
                                   "安装系统扩展失败：" + failed.message()});
        return;
    }
    if (!::mkdtemp(staging.data())) {
        delegate.didFailWithError(request,
                                  {SystemExtensionError::unknown,
                                   "安装系统扩展失败：无法创建目录。"});
        return;
    }
    std::filesystem::copy(source,
                          staging,
                          std::filesystem::copy_options::recursive
                              | std::filesystem::copy_options::overwrite_existing,
                          error);
    if (!error) {
        const unsigned flags = replacing ? RENAME_EXCHANGE : RENAME_NOREPLACE;
        if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, installed.c_str(), flags) != 0)
            error = {errno, std::generic_category()};
    }
    std::error_code ignored;
    std::filesystem::remove_all(staging, ignored); // the old copy after a swap, or the leftovers
    if (error) {
        delegate.didFailWithError(request,
                                  {SystemExtensionError::unknown,
                                   "安装系统扩展失败：" + error.message()});
        return;
    }
    delegate.didFinishWithResult(request, SystemExtensionRequestResult::completed);
}

} // namespace Platform
