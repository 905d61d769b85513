#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace Platform {

// An application bundle: a directory "<Name>.app" whose Contents/Info.json describes it, with
// the executable in Contents/bin and resources in Contents/Resources.
class Bundle
{
public:
    // The bundle at a directory; its information is empty when Info.json is missing or unreadable.
    explicit Bundle(std::filesystem::path bundlePath);

    // The bundle that holds the running executable. An executable that lies in no bundle gets its
    // own directory as bundle path and no information.
    static const Bundle &main();

    // The bundle whose Contents/bin holds the executable, if any.
    static std::optional<std::filesystem::path> bundleContaining(
        const std::filesystem::path &executable);

    const std::filesystem::path &bundlePath() const { return m_bundlePath; }
    std::filesystem::path resourcePath() const;

    // An existing file of Contents/Resources, or nothing.
    std::optional<std::filesystem::path> pathForResource(const std::string &name) const;

    const std::optional<std::string> &identifier() const { return m_identifier; }
    const std::optional<std::string> &shortVersion() const { return m_shortVersion; }
    const std::optional<std::string> &version() const { return m_version; }
    const std::optional<std::string> &executableName() const { return m_executableName; }

private:
    std::filesystem::path m_bundlePath;
    std::optional<std::string> m_identifier;
    std::optional<std::string> m_shortVersion;
    std::optional<std::string> m_version;
    std::optional<std::string> m_executableName;
};

} // namespace Platform
