#pragma once

// The keys of the user's preferences. Which part of the client writes and reads each one is
// written beside it; clearSession removes those marked "session".
struct UserDefaultsCacheKeys
{
    // string: the API base URL that last answered with a successful envelope
    static constexpr const char *lastOkHost = "key.last.ok.host";
    // list of strings: backup API base URLs from the public settings, in their order
    static constexpr const char *backupUrls = "key.qaro.backup.urls";
    // string, session: the sign-in token, sent as the "token" and "authorization" headers
    static constexpr const char *apiToken = "key.qaro.api.token";
    // string: "Linux-" + UUID; a copy lives in the keychain under the same account
    static constexpr const char *deviceId = "key.qaro.device.id";
    // dictionary, session: the signed-in user's record; its presence means signed in
    static constexpr const char *userInfo = "key.qaro.user.info";
    // string, session: the account name ("user_name")
    static constexpr const char *userAccount = "key.qaro.user.account";
    // never written, session: reserved
    static constexpr const char *subscribeUuid = "key.qaro.subscribe.uuid";
    // never written, session: reserved
    static constexpr const char *subscribeEnd = "key.qaro.subscribe.end";
    // list of strings: the names of all nodes of the service
    static constexpr const char *allNodes = "key.qaro.all.nodes";
    // list of strings, session: the display names of the nodes of the user's subscription
    static constexpr const char *subNodes = "key.qaro.sub.nodes";
    // integer, session: "id" of the user's first customer service
    static constexpr const char *serverId = "key.qaro.serverid";
    // string, session: the remaining traffic as shown, e.g. "10.0 G"
    static constexpr const char *lastAmount = "key.qaro.last.amount";
    // string "true": automatic sign-in is on; absent means off
    static constexpr const char *lastAutoLogin = "Key_Last_Auto_Login";
    // dictionary {"accountid", "accountpw"}: the remembered sign-in, both in plain text
    static constexpr const char *lastAccountIdPw = "Key_Last_Accout_Id_Pw";
    static constexpr const char *rememberedAccountId = "accountid";
    static constexpr const char *rememberedPassword = "accountpw";
};
