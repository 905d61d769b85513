#include "StoredPreferences.h"

#include "api/QaroShared.h"
#include "api/UserDefaultsCacheKeys.h"

#include "platform/PreferenceStore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using Platform::PropertyValue;

namespace {

constexpr const char userDomain[] = "com.qaromac.wv";

void apply(PropertyValue &values, const std::map<std::string, std::optional<PropertyValue>> &changes)
{
    for (const auto &[key, value] : changes) {
        if (value)
            values[key] = *value;
        else
            values.erase(key);
    }
}

} // namespace

void PrintTo(const Stored &stored, std::ostream *out)
{
    *out << "user " << stored.user.dump() << ", group " << stored.group.dump();
}

Stored Changes::appliedTo(Stored stored) const
{
    apply(stored.user, user);
    apply(stored.group, group);
    return stored;
}

StoredPreferences::StoredPreferences(std::filesystem::path configHome)
    : m_configHome(std::move(configHome))
{ }

Stored StoredPreferences::arrangeSignedIn(const std::string &base) const
{
    using Keys = UserDefaultsCacheKeys;
    Stored stored;
    stored.user = {{Keys::deviceId, "Linux-HOSTILE-DEVICE"},
                   {Keys::apiToken, "token-before"},
                   {Keys::userInfo, {{"id", 1}, {"user_name", "before@orvane.test"}}},
                   {Keys::userAccount, "before@orvane.test"},
                   {Keys::lastOkHost, base},
                   {Keys::backupUrls, PropertyValue::array({base})},
                   {Keys::allNodes, PropertyValue::array({"before 01"})},
                   {Keys::subNodes, PropertyValue::array({"before sub 01"})},
                   {Keys::serverId, 7},
                   {Keys::lastAmount, "1.0 G"},
                   {Keys::lastAutoLogin, "true"},
                   {Keys::lastAccountIdPw,
                    {{Keys::rememberedAccountId, "before@orvane.test"},
                     {Keys::rememberedPassword, "before-password"}}}};
    stored.group = {{QaroShared::subUuidKey, "uuid-before"},
                    {QaroShared::nodeNameKey, "before 01"},
                    {QaroShared::tunModeKey, 1}};
    write(userDomain, stored.user);
    write(QaroShared::groupIdentifier, stored.group);
    // Read at once, so that the stores hold the files written now: a later file cannot then get
    // an older one's inode and pass for it.
    Platform::PreferenceStore::standard().value(Keys::deviceId);
    Platform::PreferenceStore::group(QaroShared::groupIdentifier).value(QaroShared::subUuidKey);
    return stored;
}

Stored StoredPreferences::read() const
{
    return {readDomain(userDomain), readDomain(QaroShared::groupIdentifier)};
}

std::filesystem::path StoredPreferences::file(const std::string &domain) const
{
    return m_configHome / domain / "preferences.json";
}

void StoredPreferences::write(const std::string &domain, const PropertyValue &values) const
{
    // A new file renamed into place, so that a store that has read the old one notices.
    const auto target = file(domain);
    std::filesystem::create_directories(target.parent_path());
    const auto fresh = target.string() + ".arranged";
    std::ofstream(fresh) << Platform::PropertyFile::encode(values).dump();
    std::filesystem::rename(fresh, target);
}

PropertyValue StoredPreferences::readDomain(const std::string &domain) const
{
    std::ifstream in(file(domain));
    if (!in)
        return PropertyValue::object();
    std::stringstream text;
    text << in.rdbuf();
    const auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
    EXPECT_TRUE(parsed.is_object()) << file(domain) << " does not hold a JSON object";
    if (!parsed.is_object())
        return nullptr;
    return Platform::PropertyFile::decode(parsed);
}
