#include "QaroShared.h"

#include "UserDefaults.h"

#include "platform/FileOperations.h"
#include "platform/GroupContainer.h"
#include "platform/Log.h"
#include "platform/PreferenceStore.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char logCategory[] = "QaroShared";
constexpr std::filesystem::perms directoryMode = std::filesystem::perms(0755);
constexpr std::filesystem::perms fileMode = std::filesystem::perms(0644);

std::string typeName(const std::any &value)
{
    const char *mangled = value.type().name();
    int status = 0;
    std::unique_ptr<char, void (*)(void *)>
        demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? demangled.get() : mangled;
}

template<typename Integer, typename... Others>
std::optional<Platform::PropertyValue> integerValue(const std::any &value)
{
    if (auto number = std::any_cast<Integer>(&value))
        return Platform::PropertyValue(*number);
    if constexpr (sizeof...(Others) > 0)
        return integerValue<Others...>(value);
    else
        return std::nullopt;
}

// The property-list form of a value, or the type that has none.
std::optional<Platform::PropertyValue> propertyValue(const std::any &value, std::string &refused)
{
    if (auto text = std::any_cast<std::string>(&value))
        return *text;
    if (auto text = std::any_cast<const char *>(&value); text && *text)
        return std::string(*text);
    if (auto text = std::any_cast<std::string_view>(&value))
        return std::string(*text);
    if (auto number = integerValue<int,
                                   long,
                                   long long,
                                   short,
                                   unsigned,
                                   unsigned long,
                                   unsigned long long,
                                   unsigned short>(value))
        return number;
    if (auto flag = std::any_cast<bool>(&value))
        return *flag;
    if (auto number = std::any_cast<double>(&value))
        return *number;
    if (auto number = std::any_cast<float>(&value))
        return double(*number);
    if (auto bytes = std::any_cast<Platform::Data>(&value))
        return Platform::PropertyValue::binary(*bytes);
    if (auto dictionary = std::any_cast<QaroShared::Dictionary>(&value)) {
        Platform::PropertyValue converted = Platform::PropertyValue::object();
        for (const auto &[key, member] : *dictionary) {
            auto convertedMember = propertyValue(member, refused);
            if (!convertedMember)
                return std::nullopt;
            converted[key] = std::move(*convertedMember);
        }
        return converted;
    }
    if (auto list = std::any_cast<QaroShared::List>(&value)) {
        Platform::PropertyValue converted = Platform::PropertyValue::array();
        for (const auto &element : *list) {
            auto convertedElement = propertyValue(element, refused);
            if (!convertedElement)
                return std::nullopt;
            converted.push_back(std::move(*convertedElement));
        }
        return converted;
    }
    refused = typeName(value);
    return std::nullopt;
}

// A subpath as a relative path, or nothing when it would climb out of the container.
std::optional<std::filesystem::path> relativeSubpath(const std::string &subpath)
{
    const std::filesystem::path path = std::filesystem::path(subpath).relative_path();
    for (const auto &component : path) {
        if (component == "..")
            return std::nullopt;
    }
    return path;
}

std::filesystem::path trimmedOfSeparators(const std::filesystem::path &path)
{
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// Copies to a temporary file beside the destination and renames it over, so a copy that fails
// leaves the old destination as it was.
std::error_code copyOver(const std::filesystem::path &source,
                         const std::filesystem::path &destination)
{
    std::string temporary = destination.string() + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return {errno, std::generic_category()};
    ::close(fd);
    std::error_code error;
    std::filesystem::copy_file(source,
                               temporary,
                               std::filesystem::copy_options::overwrite_existing,
                               error);
    if (!error)
        std::filesystem::permissions(temporary, fileMode, error);
    // A rename cannot replace a directory; it goes only once its replacement is ready.
    std::error_code absent;
    if (!error
        && std::filesystem::is_directory(std::filesystem::symlink_status(destination, absent)))
        std::filesystem::remove_all(destination, error);
    if (!error)
        std::filesystem::rename(temporary, destination, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
    return error;
}

} // namespace

QaroShared &QaroShared::shared()
{
    static QaroShared instance([] { return Platform::containerForGroup(groupIdentifier); });
    return instance;
}

QaroShared::QaroShared(ContainerLocator container)
    : m_container(std::move(container))
{ }

std::optional<Platform::PropertyValue> QaroShared::value(const std::string &key) const
{
    return Platform::PreferenceStore::group(groupIdentifier).value(key);
}

std::optional<std::string> QaroShared::string(const std::string &key) const
{
    return UserDefaults(Platform::PreferenceStore::group(groupIdentifier)).string(key);
}

std::string QaroShared::tunMode() const
{
    return string(tunModeKey).value_or("rule");
}

void QaroShared::setValue(const std::string &key, const std::any &value) const
{
    std::string refused;
    auto converted = propertyValue(value, refused);
    if (!converted) {
        Platform::Log::print("不支持的数据类型：" + refused
                             + "，支持的类型：String/Int/Bool/Data/数组/字典等");
        return;
    }
    Platform::PreferenceStore::group(groupIdentifier).setValue(key, std::move(*converted));
}

std::optional<std::filesystem::path> QaroShared::sharedDirectory(const std::string &subpath) const
{
    const auto container = m_container();
    if (!container) {
        Platform::Log::system(Platform::LogLevel::Default,
                              logCategory,
                              "sysnc:!!无法加载共享文件路径");
        return std::nullopt;
    }
    Platform::Log::system(Platform::LogLevel::Default,
                          logCategory,
                          "sysnc.实际Group路径：" + container->string());

    const auto relative = relativeSubpath(subpath);
    if (!relative) {
        Platform::Log::system(Platform::LogLevel::Default,
                              logCategory,
                              "sysnc.getSharedDir.err:" + subpath + " leaves the shared container");
        return std::nullopt;
    }
    const std::filesystem::path directory = relative->empty() ? *container : *container / *relative;

    std::error_code error;
    if (std::filesystem::is_directory(directory, error)) {
        std::filesystem::permissions(directory, directoryMode, error);
        return directory;
    }
    error = std::filesystem::exists(directory, error)
                ? std::make_error_code(std::errc::not_a_directory)
                : Platform::createDirectories(directory, 0755);
    if (error) {
        Platform::Log::system(Platform::LogLevel::Default,
                              logCategory,
                              "sysnc.getSharedDir.err:" + error.message());
        return std::nullopt;
    }
    return directory;
}

std::optional<std::filesystem::path> QaroShared::sharedFileUrl(const std::string &fileName,
                                                               const std::string &subpath) const
{
    const auto relativeName = relativeSubpath(fileName);
    if (!relativeName || relativeName->empty())
        return std::nullopt;
    const auto directory = sharedDirectory(subpath);
    if (!directory)
        return std::nullopt;
    return *directory / *relativeName;
}

bool QaroShared::fileExists(const std::string &fileName, const std::string &subpath) const
{
    const auto file = sharedFileUrl(fileName, subpath);
    std::error_code error;
    return file && std::filesystem::exists(*file, error);
}

std::optional<std::filesystem::path> QaroShared::copyToShared(const std::filesystem::path &source,
                                                              const std::string &subpath,
                                                              bool overwrite,
                                                              std::error_code &error) const
{
    error.clear();
    // "dir/" names "dir"; without a name the destination would be the directory itself.
    const std::filesystem::path name = trimmedOfSeparators(source).filename();
    if (name.empty() || name == "." || name == "..") {
        error = std::make_error_code(std::errc::invalid_argument);
        return std::nullopt;
    }
    const auto directory = sharedDirectory(subpath);
    if (!directory)
        return std::nullopt;
    std::filesystem::permissions(*directory, directoryMode, error);
    if (error)
        return std::nullopt;

    const std::filesystem::path destination = *directory / name;
    std::error_code missing;
    const bool exists = std::filesystem::exists(
        std::filesystem::symlink_status(destination, missing));
    if (exists && !overwrite) {
        Platform::Log::print("cancel.whenExist：" + destination.string());
        return destination;
    }
    std::error_code different;
    if (exists && std::filesystem::equivalent(source, destination, different)) {
        std::filesystem::permissions(destination, fileMode, error);
        return error ? std::nullopt : std::optional(destination);
    }

    error = copyOver(source, destination);
    if (error)
        return std::nullopt;
    if (exists)
        Platform::Log::print("removeItem：" + destination.string());
    Platform::Log::system(Platform::LogLevel::Default,
                          logCategory,
                          "sysnc.copyItem：" + source.string() + " to " + destination.string());
    return destination;
}
