#include "LoginItemList.h"

#include "Bundle.h"
#include "FileOperations.h"
#include "Log.h"
#include "Text.h"
#include "XdgDirectories.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr std::string_view logCategory = "LoginItemList";
constexpr std::string_view entrySuffix = ".desktop";

// Absolute, without "." and ".." and without a trailing slash.
std::filesystem::path normalised(const std::filesystem::path &path)
{
    std::error_code error;
    const std::filesystem::path absolute = path.is_absolute()
                                               ? path
                                               : std::filesystem::current_path(error) / path;
    std::string text = absolute.lexically_normal().native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// Absolute, with symbolic links resolved as far as the path exists.
std::filesystem::path resolved(const std::filesystem::path &path)
{
    std::error_code error;
    const std::filesystem::path real
        = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
    return normalised(error ? path : real);
}

bool isProgram(const std::filesystem::path &path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)
           && ::access(path.c_str(), X_OK) == 0;
}

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
           || c == '.' || c == '_' || c == '~';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::filesystem::path> pathFromFileUrl(std::string_view url)
{
    constexpr std::string_view scheme = "file://";
    if (url.size() < scheme.size()
        || !std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           })) {
        return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    if (url.starts_with("localhost/"))
        url.remove_prefix(std::string_view("localhost").size());
    if (!url.starts_with('/') || url.find_first_of("?#") != std::string_view::npos)
        return std::nullopt;

    std::string path;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] != '%') {
            path += url[i];
            continue;
        }
        const int high = i + 2 < url.size() ? hexValue(url[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(url[i + 2]) : -1;
        if (low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        path += char(high * 16 + low);
        i += 2;
    }
    return path;
}

// The general escapes of desktop entry string values.
std::string unescapedValue(std::string_view value)
{
    std::string result;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        switch (value[i + 1]) {
        case 's':
            result += ' ';
            break;
        case 'n':
            result += '\n';
            break;
        case 't':
            result += '\t';
            break;
        case 'r':
            result += '\r';
            break;
        case '\\':
            result += '\\';
            break;
        default:
            // Left for the Exec quoting rules, which give \" \` and \$ their meaning.
            result += value.substr(i, 2);
            break;
        }
        ++i;
    }
    return result;
}

std::string escapedValue(std::string_view value)
{
    std::string result;
    for (const char c : value) {
        switch (c) {
        case '\\':
            result += "\\\\";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\t':
            result += "\\t";
            break;
        case '\r':
            result += "\\r";
            break;
        default:
            result += c;
            break;
        }
    }
    if (!result.empty() && result.front() == ' ')
        result.replace(0, 1, "\\s");
    return result;
}

bool isQuotedEscape(char c)
{
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

std::string quotedArgument(std::string_view argument)
{
    std::string result = "\"";
    for (const char c : argument) {
        if (isQuotedEscape(c))
            result += '\\';
        result += c;
        if (c == '%')
            result += '%';
    }
    return result + '"';
}

// The first argument of an Exec value; nothing when it is missing or its quote never closes.
std::optional<std::string> firstArgument(std::string_view exec)
{
    std::size_t i = 0;
    while (i < exec.size() && Text::isBlank(exec[i]))
        ++i;
    std::string argument;
    while (i < exec.size() && !Text::isBlank(exec[i])) {
        if (exec[i] != '"') {
            argument += exec[i++];
            continue;
        }
        ++i;
        bool closed = false;
        while (i < exec.size() && !closed) {
            const char c = exec[i++];
            if (c == '"')
                closed = true;
            else if (c == '\\' && i < exec.size() && isQuotedEscape(exec[i]))
                argument += exec[i++];
            else
                argument += c;
        }
        if (!closed)
            return std::nullopt;
    }
    for (std::size_t percent = argument.find("%%"); percent != std::string::npos;
         percent = argument.find("%%", percent + 1)) {
        argument.erase(percent, 1);
    }
    if (argument.empty())
        return std::nullopt;
    return argument;
}

struct DesktopEntry
{
    std::optional<std::string> exec;
    bool hidden = false;
    bool autostartEnabled = true;
};

// The keys of the [Desktop Entry] group that matter here; nothing when the file does not parse.
std::optional<DesktopEntry> desktopEntry(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::optional<std::string_view> group;
    DesktopEntry entry;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Text::trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return std::nullopt;
            group = line.substr(1, line.size() - 2);
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string_view key = Text::trimmed(line.substr(0, equals));
        if (!group || equals == std::string_view::npos || key.empty())
            return std::nullopt;
        if (*group != "Desktop Entry")
            continue;
        const std::string_view value = Text::trimmed(line.substr(equals + 1));
        if (key == "Exec")
            entry.exec = std::string(value);
        else if (key == "Hidden")
            entry.hidden = value == "true";
        else if (key == "X-GNOME-Autostart-enabled")
            entry.autostartEnabled = value != "false";
    }
    return entry;
}

std::optional<std::filesystem::path> programInPath(const std::string &name)
{
    const char *variable = std::getenv("PATH");
    const std::string_view search = variable ? variable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= search.size()) {
        const std::size_t end = std::min(search.find(':', start), search.size());
        const std::filesystem::path directory(search.substr(start, end - start));
        start = end + 1;
        // Empty or relative entries would depend on the working directory.
        if (!directory.is_absolute())
            continue;
        const std::filesystem::path candidate = resolved(directory / name);
        if (isProgram(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> resolvedProgram(const std::string &program)
{
    const std::filesystem::path path(program);
    if (path.is_absolute()) {
        const std::filesystem::path candidate = resolved(path);
        return isProgram(candidate) ? std::optional(candidate) : std::nullopt;
    }
    if (program.find('/') != std::string::npos)
        return std::nullopt;
    return programInPath(program);
}

// Fills in what the entry file says.
void readEntry(LoginItemList::Item &item)
{
    std::ifstream stream(item.entryFile, std::ios::binary);
    if (!stream)
        return;
    const std::string text(std::istreambuf_iterator<char>(stream), {});
    if (stream.bad())
        return;
    const std::optional<DesktopEntry> entry = desktopEntry(text);
    if (!entry)
        return;
    item.enabled = !entry->hidden && entry->autostartEnabled;
    const std::optional<std::string> program = entry->exec
                                                   ? firstArgument(unescapedValue(*entry->exec))
                                                   : std::nullopt;
    const std::optional<std::filesystem::path> path = program ? resolvedProgram(*program)
                                                              : std::nullopt;
    if (path)
        item.resolvedUrl = LoginItemList::fileUrl(Bundle::bundleContaining(*path).value_or(*path));
}

struct LaunchTarget
{
    std::filesystem::path program;
    std::string name;
};

std::optional<LaunchTarget> launchTarget(const std::filesystem::path &path)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        const std::optional<std::string> executable = Bundle(path).executableName();
        if (!executable || !isPlainFileName(*executable))
            return std::nullopt;
        const std::filesystem::path program = path / "Contents" / "bin" / *executable;
        if (!isProgram(program))
            return std::nullopt;
        std::string name = path.filename().string();
        if (name.size() > 4 && name.ends_with(".app"))
            name.resize(name.size() - 4);
        return LaunchTarget{program, name};
    }
    if (!isProgram(path) || Bundle::bundleContaining(path))
        return std::nullopt;
    return LaunchTarget{path, path.filename().string()};
}

std::optional<LaunchTarget> launchTargetForUrl(const std::string &fileUrl)
{
    const std::optional<std::filesystem::path> path = pathFromFileUrl(fileUrl);
    return path ? launchTarget(normalised(*path)) : std::nullopt;
}

std::string entryText(const LaunchTarget &target)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name="
           + escapedValue(target.name)
           + "\n"
             "Exec="
           + escapedValue(quotedArgument(target.program.native()))
           + "\n"
             "X-GNOME-Autostart-enabled=true\n"
             "Terminal=false\n";
}

bool writeEntry(const std::filesystem::path &entryFile, const LaunchTarget &target)
{
    if (const std::error_code error = writeFileAtomically(entryFile, entryText(target), 0644)) {
        Log::system(LogLevel::Error,
                    logCategory,
                    "cannot write " + entryFile.string() + ": " + error.message());
        return false;
    }
    return true;
}

std::string hashText(std::string_view text)
{
    // FNV-1a: stable across runs and builds, unlike std::hash.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string result(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        result[std::size_t(i)] = digits[hash & 0xf];
    return result;
}

} // namespace

LoginItemList::LoginItemList(std::filesystem::path autostartDirectory)
    : m_directory(std::move(autostartDirectory))
{ }

std::optional<LoginItemList> LoginItemList::sessionLoginItems()
{
    const std::optional<std::filesystem::path> configHome = XdgDirectories::configHome();
    if (!configHome)
        return std::nullopt;
    const std::filesystem::path directory = *configHome / "autostart";
    // A missing directory is an empty list, made on the first insertion.
    struct stat status;
    if (::stat(directory.c_str(), &status) == 0 ? !S_ISDIR(status.st_mode) : errno != ENOENT)
        return std::nullopt;
    return LoginItemList(directory);
}

std::vector<LoginItemList::Item> LoginItemList::snapshot() const
{
    std::vector<Item> items;
    std::error_code error;
    for (std::filesystem::directory_iterator it(m_directory, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (name.size() > entrySuffix.size() && name.ends_with(entrySuffix)
            && !it->is_directory(typeError)) {
            items.push_back({it->path(), std::nullopt});
        }
    }
    std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) {
        return a.entryFile.filename().native() < b.entryFile.filename().native();
    });
    for (Item &item : items)
        readEntry(item);
    return items;
}

bool LoginItemList::insertItemURL(const std::string &fileUrl)
{
    const std::optional<LaunchTarget> target = launchTargetForUrl(fileUrl);
    if (!target)
        return false;
    if (const std::error_code error = createDirectories(m_directory, 0700)) {
        Log::system(LogLevel::Error,
                    logCategory,
                    "cannot create " + m_directory.string() + ": " + error.message());
        return false;
    }
    const std::optional<std::filesystem::path> entryFile = unusedEntryFile(fileUrl);
    return entryFile && writeEntry(*entryFile, *target);
}

bool LoginItemList::enableItem(const Item &item, const std::string &fileUrl)
{
    const std::optional<LaunchTarget> target = launchTargetForUrl(fileUrl);
    return target && writeEntry(item.entryFile, *target);
}

bool LoginItemList::remove(const Item &item)
{
    if (::unlink(item.entryFile.c_str()) == 0)
        return true;
    const std::error_code error(errno, std::generic_category());
    Log::system(LogLevel::Error,
                logCategory,
                "cannot remove " + item.entryFile.string() + ": " + error.message());
    return false;
}

std::string LoginItemList::fileUrl(const std::filesystem::path &path)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    const std::filesystem::path absolute = normalised(path);
    std::string url = "file://";
    for (const char c : absolute.native()) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte) || c == '/') {
            url += c;
        } else {
            url += '%';
            url += digits[byte >> 4];
            url += digits[byte & 0xf];
        }
    }
    std::error_code error;
    if (url.back() != '/' && std::filesystem::is_directory(absolute, error))
        url += '/';
    return url;
}

std::string LoginItemList::resolvedFileUrl(const std::filesystem::path &path)
{
    return fileUrl(resolved(path));
}

std::optional<std::filesystem::path> LoginItemList::unusedEntryFile(const std::string &url) const
{
    const std::string base = "com.qaromac.wv-" + hashText(url);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string suffix = attempt == 1 ? "" : "-" + std::to_string(attempt);
        const std::filesystem::path file = m_directory / (base + suffix + std::string(entrySuffix));
        struct stat status;
        if (::lstat(file.c_str(), &status) != 0 && errno == ENOENT)
            return file;
    }
    Log::system(LogLevel::Error, logCategory, "no free entry name in " + m_directory.string());
    return std::nullopt;
}

} // namespace Platform
