#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace Platform {

struct SystemExtensionProperties
{
    std::string bundleIdentifier;
    std::string bundleVersion;
    std::string bundleShortVersion;
    std::filesystem::path url;
};

enum class SystemExtensionReplacementAction { cancel = 0, replace = 1 };
enum class SystemExtensionRequestResult { completed = 0, willCompleteAfterReboot = 1 };

struct SystemExtensionError
{
    enum Code {
        unknown = 1,
        extensionNotFound = 4,
        extensionMissingIdentifier = 5,
        requestCanceled = 11,
    };

    int code = unknown;
    std::string localizedDescription;
};

class SystemExtensionRequest;

// Hears how an activation request goes, on the main queue.
class SystemExtensionRequestDelegate
{
public:
    virtual ~SystemExtensionRequestDelegate() = default;

    virtual SystemExtensionReplacementAction actionForReplacingExtension(
        const SystemExtensionRequest &request,
        const SystemExtensionProperties &existing,
        const SystemExtensionProperties &extension)
        = 0;
    virtual void requestNeedsUserApproval(const SystemExtensionRequest &request) = 0;
    virtual void didFinishWithResult(const SystemExtensionRequest &request,
                                     SystemExtensionRequestResult result)
        = 0;
    virtual void didFailWithError(const SystemExtensionRequest &request,
                                  const SystemExtensionError &error)
        = 0;
};

// A request to install (activate) the application's system extension with an identifier.
class SystemExtensionRequest
{
public:
    static std::shared_ptr<SystemExtensionRequest> activationRequest(std::string identifier);

    const std::string &identifier() const { return m_identifier; }

    std::weak_ptr<SystemExtensionRequestDelegate> delegate;

private:
    explicit SystemExtensionRequest(std::string identifier);

    std::string m_identifier;
};

// Carries out activation requests.
class SystemExtensionManager
{
public:
    virtual ~SystemExtensionManager() = default;

    virtual void submitRequest(std::shared_ptr<SystemExtensionRequest> request) = 0;
};

// Activation on this system: the extension "<identifier>.systemextension" in the application
// bundle's Contents/Library/SystemExtensions is copied into the installed-extensions directory,
// replacing an installed copy in one step once the delegate agrees. No approval is needed here.
class LocalSystemExtensionManager final : public SystemExtensionManager
{
public:
    LocalSystemExtensionManager(std::filesystem::path applicationBundle,
                                std::filesystem::path installedExtensions);

    void submitRequest(std::shared_ptr<SystemExtensionRequest> request) override;

    static SystemExtensionProperties properties(const std::filesystem::path &extension);

private:
    void activate(const SystemExtensionRequest &request,
                  SystemExtensionRequestDelegate &delegate) const;

    std::filesystem::path m_applicationBundle;
    std::filesystem::path m_installedExtensions;
};

} // namespace Platform
