#include "PreferenceStore.h"

#include "FileOperations.h"
#include "Log.h"
#include "XdgDirectories.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr const char logCategory[] = "PreferenceStore";
constexpr const char preferencesFileName[] = "preferences.json";
constexpr const char applicationDomain[] = "com.qaromac.wv";

PreferenceStore &storeForFile(const std::filesystem::path &file)
{
    static std::map<std::filesystem::path, std::unique_ptr<PreferenceStore>> stores;
    auto &store = stores[file];
    if (!store)
        store = std::make_unique<PreferenceStore>(file);
    return *store;
}

std::filesystem::path domainFile(const std::string &domain)
{
    if (auto directory = XdgDirectories::configHome())
        return *directory / domain / preferencesFileName;
    return {}; // no home: the store lives in memory only
}

} // namespace

bool PreferenceStore::FileIdentity::operator==(const FileIdentity &other) const
{
    return exists == other.exists && device == other.device && inode == other.inode
           && size == other.size && modified.tv_sec == other.modified.tv_sec
           && modified.tv_nsec == other.modified.tv_nsec;
}

PreferenceStore::PreferenceStore(std::filesystem::path file)
    : m_file(std::move(file))
{ }

PreferenceStore &PreferenceStore::standard()
{
    return storeForFile(domainFile(applicationDomain));
}

PreferenceStore &PreferenceStore::group(const std::string &groupIdentifier)
{
    return storeForFile(domainFile(groupIdentifier));
}

std::optional<PropertyValue> PreferenceStore::value(const std::string &key)
{
    reloadIfChanged();
    const auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    return *it;
}

bool PreferenceStore::setValue(const std::string &key, PropertyValue value)
{
    reloadIfChanged();
    m_values[key] = std::move(value);
    return save();
}

bool PreferenceStore::removeValue(const std::string &key)
{
    reloadIfChanged();
    if (m_values.erase(key) == 0)
        return true;
    return save();
}

PreferenceStore::FileIdentity PreferenceStore::currentIdentity() const
{
    FileIdentity identity;
    struct stat status;
    if (!m_file.empty() && ::stat(m_file.c_str(), &status) == 0) {
        identity = {status.st_dev, status.st_ino, status.st_size, status.st_mtim, true};
    }
    return identity;
}

void PreferenceStore::reloadIfChanged()
{
    if (m_file.empty())
        return;
    if (m_everLoaded && currentIdentity() == m_loaded)
        return;

    const int fd = ::open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            Log::system(LogLevel::Error,
                        logCategory,
                        "cannot read " + m_file.string() + ": " + std::strerror(errno));
            return; // keep what we have rather than forget it
        }
        m_values = PropertyValue::object();
        m_loaded = {};
        m_everLoaded = true;
        return;
    }

    // Identify the file by the descriptor we read, so a replacement racing with us is noticed
    // on the next read.
    struct stat status;
    ::fstat(fd, &status);
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        text.append(buffer, std::size_t(count));
    }
    ::close(fd);

    m_everLoaded = true;
    const nlohmann::json stored = nlohmann::json::parse(text, nullptr, false);
    if (stored.is_discarded() || !stored.is_object()) {
        moveAside();
        m_values = PropertyValue::object();
        m_loaded = {};
        return;
    }
    m_values = PropertyFile::decode(stored);
    m_loaded = {status.st_dev, status.st_ino, status.st_size, status.st_mtim, true};
}

void PreferenceStore::moveAside() const
{
    std::error_code error;
    if (const auto aside = Platform::moveAside(m_file, error)) {
        Log::system(LogLevel::Error,
                    logCategory,
                    m_file.string() + " does not parse; kept as " + aside->string()
                        + ", starting empty");
        return;
    }
    Log::system(LogLevel::Error,
                logCategory,
                m_file.string() + " does not parse and cannot be moved aside: " + error.message());
}

bool PreferenceStore::save()
{
    if (m_file.empty()) {
        Log::system(LogLevel::Error,
                    logCategory,
                    "no preferences directory; keeping values in memory");
        return false;
    }
    std::error_code error = createDirectories(m_file.parent_path(), 0700);
    if (!error) {
        const std::string text = PropertyFile::encode(m_values)
                                     .dump(4, ' ', false, nlohmann::json::error_handler_t::replace);
        error = writeFileAtomically(m_file, text + "\n", 0600);
    }
    if (error) {
        Log::system(LogLevel::Error,
                    logCategory,
                    "cannot write " + m_file.string() + ": " + error.message());
        return false;
    }
    m_loaded = currentIdentity();
    return true;
}

} // namespace Platform
