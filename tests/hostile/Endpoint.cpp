#include "Endpoint.h"

#include "api/NetWorkTool.h"
#include "api/QaroShared.h"
#include "api/UserDefaultsCacheKeys.h"

using Keys = UserDefaultsCacheKeys;
using Platform::PropertyValue;

namespace {

nlohmann::json user(nlohmann::json invitationCode)
{
    return {{"id", 42},
            {"user_name", "after@orvane.test"},
            {"avatar", "https://cdn.orvane.test/a.png"},
            {"invitation_code", std::move(invitationCode)},
            {"member_expiry_at", "2027-01-06T15:04:05+08:00"},
            {"member_level", 2}};
}

nlohmann::json service(int id, const std::string &uuid)
{
    const std::int64_t gibibyte = 1024 * 1024 * 1024;
    return {{"id", id},
            {"total_bandwidth", 10 * gibibyte},
            {"used_up", gibibyte},
            {"used_down", gibibyte},
            {"service_status", true},
            {"sub_status", true},
            {"sub_uuid", uuid}};
}

} // namespace

std::string name(Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::login:
        return "login";
    case Endpoint::registerAccount:
        return "registerAccount";
    case Endpoint::resetPassword:
        return "resetPassword";
    case Endpoint::emailCode:
        return "emailCode";
    case Endpoint::userInfo:
        return "userInfo";
    case Endpoint::publicSetting:
        return "publicSetting";
    case Endpoint::serviceList:
        return "serviceList";
    case Endpoint::nodeNames:
        return "nodeNames";
    case Endpoint::subscribeNodeList:
        return "subscribeNodeList";
    }
    return {};
}

std::string path(Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::login:
        return KvApi::loginPath;
    case Endpoint::registerAccount:
        return KvApi::registerPath;
    case Endpoint::resetPassword:
        return KvApi::resetPasswordPath;
    case Endpoint::emailCode:
        return KvApi::emailCodePath;
    case Endpoint::userInfo:
        return KvApi::userInfoPath;
    case Endpoint::publicSetting:
        return KvApi::publicSettingPath;
    case Endpoint::serviceList:
        return KvApi::serviceListPath;
    case Endpoint::nodeNames:
        return KvApi::nodeNamesPath;
    case Endpoint::subscribeNodeList: {
        const std::string withQuery = KvApi::subscribeNodeListPath;
        return withQuery.substr(0, withQuery.find('?'));
    }
    }
    return {};
}

nlohmann::json validData(Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::login:
    case Endpoint::registerAccount:
        return {{"token", "token-after"}, {"user", user("INV42")}};
    case Endpoint::resetPassword:
    case Endpoint::emailCode:
        return nullptr;
    case Endpoint::userInfo:
        return user(100042);
    case Endpoint::publicSetting:
        return {{"backend_url", "http://a.orvane.test\nhttp://b.orvane.test"}};
    case Endpoint::serviceList:
        return nlohmann::json::array({service(1001, "uuid-after"), service(2002, "uuid-second")});
    case Endpoint::nodeNames:
        return nlohmann::json::array({"香港 01", "日本 01", "美国 01"});
    case Endpoint::subscribeNodeList:
        return nlohmann::json::array(
            {{{"remarks", "香港 01"}, {"id", 1}}, {{"remarks", "日本 01"}, {"id", 2}}});
    }
    return nullptr;
}

std::string envelope(const nlohmann::json &data, int code, const std::string &message)
{
    return nlohmann::json({{"code", code}, {"msg", message}, {"data", data}}).dump();
}

Changes validEffect(Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::login:
    case Endpoint::registerAccount:
        return {{{Keys::apiToken, "token-after"},
                 {Keys::userInfo, storedRecord(endpoint)},
                 {Keys::userAccount, "after@orvane.test"}},
                {}};
    case Endpoint::resetPassword:
    case Endpoint::emailCode:
        return {};
    case Endpoint::userInfo:
        return {{{Keys::userInfo, storedRecord(endpoint)}, {Keys::userAccount, "after@orvane.test"}},
                {}};
    case Endpoint::publicSetting:
        return {{{Keys::backupUrls,
                  PropertyValue::array({"http://a.orvane.test", "http://b.orvane.test"})}},
                {}};
    case Endpoint::serviceList:
        return {{{Keys::serverId, 1001}, {Keys::lastAmount, "8.0 G"}},
                {{QaroShared::subUuidKey, "uuid-after"}}};
    case Endpoint::nodeNames:
        return {{{Keys::allNodes, validData(endpoint)}}, {}};
    case Endpoint::subscribeNodeList:
        return {{{Keys::subNodes, PropertyValue::array({"香港 01", "日本 01"})}}, {}};
    }
    return {};
}

std::string validReport(Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::nodeNames:
        return "names:" + validData(endpoint).dump();
    case Endpoint::subscribeNodeList:
        return R"(names:["香港 01","日本 01"])";
    default:
        return "succeeded";
    }
}

PropertyValue storedRecord(Endpoint endpoint)
{
    const auto data = validData(endpoint);
    return endpoint == Endpoint::userInfo ? data : data["user"];
}

Changes sessionCleared()
{
    Changes cleared;
    for (const char *key : {Keys::apiToken,
                            Keys::userInfo,
                            Keys::userAccount,
                            Keys::subNodes,
                            Keys::serverId,
                            Keys::lastAmount})
        cleared.user[key] = std::nullopt;
    return cleared;
}
