#include "Bundle.h"

#include "Log.h"
#include "PropertyValue.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <system_error>

namespace Platform {

namespace {

std::filesystem::path runningExecutable()
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

} // namespace

Bundle::Bundle(std::filesystem::path bundlePath)
    : m_bundlePath(std::move(bundlePath))
{
    const std::filesystem::path infoFile = m_bundlePath / "Contents" / "Info.json";
    std::ifstream stream(infoFile);
    if (!stream)
        return;
    const std::string text(std::istreambuf_iterator<char>(stream), {});
    const nlohmann::json info = nlohmann::json::parse(text, nullptr, false);
    if (info.is_discarded() || !info.is_object()) {
        Log::system(LogLevel::Error, "Bundle", infoFile.string() + " does not parse");
        return;
    }
    m_identifier = stringMember(info, "CFBundleIdentifier");
    m_shortVersion = stringMember(info, "CFBundleShortVersionString");
    m_version = stringMember(info, "CFBundleVersion");
    m_executableName = stringMember(info, "CFBundleExecutable");
}

const Bundle &Bundle::main()
{
    static const Bundle bundle = [] {
        const std::filesystem::path executable = runningExecutable();
        return Bundle(bundleContaining(executable).value_or(executable.parent_path()));
    }();
    return bundle;
}

std::optional<std::filesystem::path> Bundle::bundleContaining(const std::filesystem::path &executable)
{
    const std::filesystem::path bin = executable.parent_path();
    const std::filesystem::path contents = bin.parent_path();
    if (bin.filename() != "bin" || contents.filename() != "Contents")
        return std::nullopt;
    std::error_code error;
    if (!std::filesystem::is_regular_file(contents / "Info.json", error))
        return std::nullopt;
    return contents.parent_path();
}

std::filesystem::path Bundle::resourcePath() const
{
    return m_bundlePath / "Contents" / "Resources";
}

std::optional<std::filesystem::path> Bundle::pathForResource(const std::string &name) const
{
    const std::filesystem::path path = resourcePath() / name;
    std::error_code error;
    if (name.empty() || path.filename() != name || !std::filesystem::exists(path, error))
        return std::nullopt;
    return path;
}

} // namespace Platform
