#include "PreferenceStore.h"

#include "FileOperations.h"
#include "Log.h"
#include "XdgDirectories.h"

#include <map>
#include <memory>
#include <string>
#include <system_error>

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
    if (m_unreadable)
        m_changesWhileUnreadable[key] = value;
    m_values[key] = std::move(value);
    return !m_unreadable && save();
}

bool PreferenceStore::removeValue(const std::string &key)
{
    reloadIfChanged();
    const bool removed = m_values.erase(key) != 0;
    if (m_unreadable) {
        m_changesWhileUnreadable[key] = std::nullopt;
        return false;
    }
    return !removed || save();
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
    // An unreadable file is tried on every call: mending its permissions leaves it unchanged.
    if (m_everLoaded && !m_unreadable && currentIdentity() == m_loaded)
        return;

    std::string text;
    struct stat status;
    const std::error_code error = readFile(m_file, text, &status);
    const bool missing = error == std::errc::no_such_file_or_directory;
    if (error && !missing) {
        if (!m_unreadable)
            Log::system(LogLevel::Error,
                        logCategory,
                        "cannot read " + m_file.string() + ": " + error.message()
                            + "; keeping changes in memory until it can be read");
        // Writing now would replace the token and the device id we could not read.
        m_unreadable = true;
        return;
    }

    m_everLoaded = true;
    m_values = PropertyValue::object();
    m_loaded = {};
    if (!missing) {
        const nlohmann::json stored = nlohmann::json::parse(text, nullptr, false);
        if (stored.is_discarded() || !stored.is_object()) {
            moveAside();
        } else {
            m_values = PropertyFile::decode(stored);
            // Identified by the descriptor we read, so a replacement racing with us is noticed
            // on the next read.
            m_loaded = {status.st_dev, status.st_ino, status.st_size, status.st_mtim, true};
        }
    }
    if (m_unreadable)
        catchUp();
}

void PreferenceStore::catchUp()
{
    m_unreadable = false;
    Log::system(LogLevel::Default, logCategory, m_file.string() + " can be read again");
    if (m_changesWhileUnreadable.empty())
        return;
    for (auto &[key, value] : m_changesWhileUnreadable) {
        if (value)
            m_values[key] = std::move(*value);
        else
            m_values.erase(key);
    }
    m_changesWhileUnreadable.clear();
    save();
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
