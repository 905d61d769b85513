#include "api/SignInRequests.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "api/UserInfo.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "RunningBackend.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

using Outcome = ServiceRequest::Outcome;

namespace {

class SignInRequestsTest : public testing::Test
{
protected:
    SignInRequestsTest() { home.setVariable("ORVANE_API_BASE_URLS", backend.asEveryBaseUrl()); }

    template<typename Start>
    Outcome run(Start start)
    {
        std::optional<Outcome> outcome;
        start([&](const Outcome &result) { outcome = result; });
        EXPECT_TRUE(queue->runUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(Outcome{});
    }

    std::string everythingLogged() const
    {
        std::string all;
        for (const auto &line : log.printed())
            all += line + "\n";
        for (const auto &line : log.systemMessages())
            all += line + "\n";
        return all;
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    RunningBackend backend{home.root() / "backend"};
    UserDefaults defaults = UserDefaults::standard();
    SignInRequests requests;
};

} // namespace

TEST_F(SignInRequestsTest, SignInStoresTheTokenAndTheUsersRecord)
{
    const auto failed = run(
        [&](auto done) { requests.login("demo@orvane.test", "wrong-one", done); });
    EXPECT_EQ(failed.kind, Outcome::Kind::failed);
    EXPECT_EQ(failed.error->text(), "账号或密码错误");
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::apiToken));
    EXPECT_FALSE(UserInfo::stored());

    const auto outcome = run(
        [&](auto done) { requests.login("  demo@orvane.test \n", " demo123456 ", done); });
    ASSERT_EQ(outcome.kind, Outcome::Kind::succeeded);
    const auto token = defaults.string(UserDefaultsCacheKeys::apiToken);
    ASSERT_TRUE(token);
    EXPECT_EQ(*token, outcome.data["token"]);
    const auto record = UserInfo::stored();
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["user_name"], "demo@orvane.test");
    EXPECT_TRUE((*record)["invitation_code"].is_string());
    EXPECT_TRUE((*record)["member_level"].is_number_integer());
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::userAccount), "demo@orvane.test");
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), backend.origin());

    const auto sent = backend.takeRequests().back();
    EXPECT_EQ(sent["body"]["user_name"], "demo@orvane.test");
    EXPECT_EQ(sent["body"]["password"], "demo123456");
    EXPECT_EQ(sent["body"]["email_code"], "");
    EXPECT_TRUE(sent["body"]["device_id"].get<std::string>().starts_with("Linux-"));

    const std::string logged = everythingLogged();
    EXPECT_NE(logged.find("[Request]: POST"), std::string::npos);
    EXPECT_EQ(logged.find("demo123456"), std::string::npos) << "the password reached a log";
    EXPECT_EQ(logged.find(*token), std::string::npos) << "the token reached a log";
}

TEST_F(SignInRequestsTest, RegistrationAndResetUseCodesOfTheirOwnKind)
{
    const std::string account = "new@orvane.test";
    auto sentCode = run([&](auto done) {
        requests.requestEmailCode(account, SignInRequests::CodePurpose::registration, done);
    });
    EXPECT_EQ(sentCode.kind, Outcome::Kind::succeeded);
    EXPECT_EQ(backend.takeRequests().back()["body"]["email_type"], "EMAIL_TYPE_USER_REGISTER");
    const std::string code = backend.admin("GET", "/_dev/codes?email=" + account)["code"];

    const auto registered = run(
        [&](auto done) { requests.registerAccount(account, code, "first-pass", done); });
    ASSERT_EQ(registered.kind, Outcome::Kind::succeeded);
    EXPECT_EQ((*UserInfo::stored())["user_name"], account);
    const auto body = backend.takeRequests().back()["body"];
    EXPECT_EQ(body["re_password"], "first-pass");
    EXPECT_EQ(body["referrer_code"], "");

    sentCode = run([&](auto done) {
        requests.requestEmailCode(account, SignInRequests::CodePurpose::passwordReset, done);
    });
    EXPECT_EQ(backend.takeRequests().back()["body"]["email_type"], "EMAIL_TYPE_USER_RESETPWD");
    const std::string resetCode = backend.admin("GET", "/_dev/codes?email=" + account)["code"];
    EXPECT_EQ(run([&](auto done) {
                  requests.resetPassword(account, "0000", "second-pass", done);
              }).error->text(),
              "验证码错误或已过期");
    EXPECT_EQ(run([&](auto done) {
                  requests.resetPassword(account, resetCode, "second-pass", done);
              }).kind,
              Outcome::Kind::succeeded);
    EXPECT_EQ(run([&](auto done) { requests.login(account, "second-pass", done); }).kind,
              Outcome::Kind::succeeded);

    const std::string logged = everythingLogged();
    for (const std::string &secret : {code, resetCode, std::string("second-pass")})
        EXPECT_EQ(logged.find(secret), std::string::npos) << secret << " reached a log";
}

TEST(SignInRequests, StoresOnlyWhatTheReplyCarriesWithTheRightTypes)
{
    TemporaryHome home;
    EXPECT_FALSE(SignInRequests::storeLoginResult({{"token", "t"}, {"user", "not a dictionary"}}));
    EXPECT_EQ(UserDefaults::standard().string(UserDefaultsCacheKeys::apiToken), "t");
    EXPECT_FALSE(UserInfo::stored());

    EXPECT_TRUE(
        SignInRequests::storeLoginResult({{"token", 5},
                                          {"user",
                                           {{"id", 7},
                                            {"user_name", "a@b.cn"},
                                            {"invitation_code", 123},
                                            {"member_level", "1"},
                                            {"member_expiry_at", "2027-01-06T15:04:05+08:00"},
                                            {"extra", true}}}}));
    EXPECT_EQ(UserDefaults::standard().string(UserDefaultsCacheKeys::apiToken), "t");
    EXPECT_EQ(*UserInfo::stored(),
              Platform::PropertyValue({{"id", 7},
                                       {"user_name", "a@b.cn"},
                                       {"member_expiry_at", "2027-01-06T15:04:05+08:00"}}));
}
