#include "UserInfo.h"

#include "NetWorkTool.h"

#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"

namespace {

bool isInteger(const nlohmann::json &value)
{
    return value.is_number_integer();
}

bool isText(const nlohmann::json &value)
{
    return value.is_string();
}

} // namespace

Platform::PropertyValue UserInfo::fromServerUser(const nlohmann::json &user, Source source)
{
    using Check = bool (*)(const nlohmann::json &);
    const std::pair<const char *, Check> members[] = {
        {"id", isInteger},
        {"user_name", isText},
        {"avatar", isText},
        {"invitation_code", source == Source::signInReply ? isText : isInteger},
        {"member_expiry_at", isText},
        {"member_level", isInteger},
    };
    Platform::PropertyValue record = Platform::PropertyValue::object();
    if (!user.is_object())
        return record;
    for (const auto &[name, hasType] : members) {
        const auto member = user.find(name);
        if (member != user.end() && hasType(*member))
            record[name] = *member;
    }
    return record;
}

void UserInfo::store(const Platform::PropertyValue &record)
{
    UserDefaults defaults = UserDefaults::standard();
    if (const auto name = record.find("user_name"); name != record.end())
        defaults.set(UserDefaultsCacheKeys::userAccount, *name);
    defaults.set(UserDefaultsCacheKeys::userInfo, record);
}

std::optional<Platform::PropertyValue> UserInfo::stored()
{
    return UserDefaults::standard().dictionary(UserDefaultsCacheKeys::userInfo);
}

std::optional<UserInfo::Expiry> UserInfo::expiry(const Platform::PropertyValue &record)
{
    const auto member = record.find("member_expiry_at");
    if (member == record.end() || !member->is_string())
        return std::nullopt;
    Expiry expiry;
    expiry.display = NetWorkTool::convertDateString(member->get<std::string>(),
                                                    "yyyy-MM-dd HH:mm:ss");
    if (!expiry.display.empty())
        expiry.days = NetWorkTool::daysFromToday(expiry.display.substr(0, 10));
    return expiry;
}
