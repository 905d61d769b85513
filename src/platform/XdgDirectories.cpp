#include "XdgDirectories.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::XdgDirectories {

namespace {

std::optional<std::filesystem::path> absoluteVariable(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    std::filesystem::path path(value);
    if (!path.is_absolute())
        return std::nullopt;
    return path;
}

std::optional<std::filesystem::path> baseDirectory(const char *variable, const char *fallback)
{
    if (auto path = absoluteVariable(variable))
        return path;
    if (auto homeDirectory = home())
        return *homeDirectory / fallback;
    return std::nullopt;
}

} // namespace

std::optional<std::filesystem::path> home()
{
    if (auto path = absoluteVariable("HOME"))
        return path;
    std::vector<char> buffer(16384);
    passwd entry;
    passwd *result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result
        && result->pw_dir && *result->pw_dir) {
        std::filesystem::path path(result->pw_dir);
        if (path.is_absolute())
            return path;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> configHome()
{
    return baseDirectory("XDG_CONFIG_HOME", ".config");
}

std::optional<std::filesystem::path> dataHome()
{
    return baseDirectory("XDG_DATA_HOME", ".local/share");
}

std::optional<std::filesystem::path> runtimeDirectory()
{
    if (auto path = absoluteVariable("XDG_RUNTIME_DIR"))
        return path;
    std::string name = std::to_string(::getuid());
    std::vector<char> buffer(16384);
    passwd entry;
    passwd *result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result
        && result->pw_name && *result->pw_name)
        name = result->pw_name;
    const std::filesystem::path directory = "/tmp/orvanevpn-" + name;
    ::mkdir(directory.c_str(), 0700);
    struct stat status;
    if (::lstat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::getuid() || (status.st_mode & 077) != 0)
        return std::nullopt;
    return directory;
}

} // namespace Platform::XdgDirectories
