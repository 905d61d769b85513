#include "api/NetWorkTool.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "api/UserInfo.h"
#include "api/WvKeyChain.h"
#include "platform/DateFormat.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "RecordingBrowser.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <tuple>

using Platform::PropertyValue;

namespace {

DataResponse answer(nlohmann::json body)
{
    DataResponse response;
    response.request = {"http://127.0.0.1:1/api", HTTPMethod::get, {}, std::nullopt};
    response.response = HTTPURLResponse{"http://127.0.0.1:1/api", 200, {}};
    response.data = body.dump();
    response.result = std::move(body);
    return response;
}

// An answer to a request that carried the sign-in token.
DataResponse answerWithToken(nlohmann::json body, const std::string &token)
{
    DataResponse response = answer(std::move(body));
    response.request.headers = NetWorkTool::requestHeaders(token, std::nullopt);
    return response;
}

DataResponse failure(ResponseError error)
{
    DataResponse response = answer(nullptr);
    response.result = std::move(error);
    return response;
}

// What handleResponse reported, in order.
struct Reports
{
    std::vector<std::string> lines;

    NetWorkTool::SuccessHandler success()
    {
        return [this](const nlohmann::json &data) {
            lines.push_back("success:" + data.dump());
        };
    }
    NetWorkTool::FailureHandler failure()
    {
        return [this](const KvNetWorkError &error) {
            const char *kinds[] = {"msg:", "invalidHost:", "dataAnalysis:"};
            lines.push_back(kinds[int(error.kind())] + error.localizedDescription());
        };
    }
};

std::vector<std::string> interpret(const DataResponse &response)
{
    Reports reports;
    NetWorkTool::handleResponse(response, reports.failure(), 0, reports.success());
    return reports.lines;
}

using Lines = std::vector<std::string>;

class NetWorkToolTest : public testing::Test
{
protected:
    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    UserDefaults defaults = UserDefaults::standard();
};

} // namespace

TEST_F(NetWorkToolTest, InterpretsTheEnvelope)
{
    EXPECT_EQ(interpret(answer({{"code", 0}, {"data", {{"a", 1}}}})), Lines{"success:{\"a\":1}"});
    EXPECT_EQ(interpret(answer({{"code", 0}})), Lines{"success:\"\""});
    EXPECT_EQ(interpret(answer({{"code", 0}, {"data", nullptr}})), Lines{"success:null"});
    EXPECT_EQ(interpret(answer({{"code", "0"}, {"msg", "文本代码"}})), Lines{"msg:文本代码"});
    EXPECT_EQ(interpret(answer({{"code", 0.0}, {"msg", 7}})), Lines{"msg:"});
    EXPECT_EQ(interpret(answer({{"code", 10001}, {"msg", "账号或密码错误"}})),
              Lines{"msg:账号或密码错误"});
    EXPECT_EQ(interpret(answer(5)), Lines{"dataAnalysis:数据解析失败"});
    EXPECT_EQ(interpret(answer(nullptr)), Lines{"dataAnalysis:数据解析失败"});

    // Unreachable bases and URLs that are none are for failover; the rest is a message.
    EXPECT_EQ(interpret(failure(URLError(URLError::Code::cannotConnectToHost, false))),
              Lines{"invalidHost:无效的根域名"});
    EXPECT_EQ(interpret(failure(AFError::invalidURL("http://bad host"))),
              Lines{"invalidHost:无效的根域名"});
    EXPECT_EQ(interpret(failure(URLError(URLError::Code::timedOut, true))), Lines{"msg:请求超时。"});
    EXPECT_EQ(interpret(failure(AFError::inputDataNilOrZeroLength())),
              Lines{"msg:Response could not be serialized, input data was nil or zero length."});
}

TEST_F(NetWorkToolTest, AnExpiredSignInClearsTheSessionAndIsReportedTwice)
{
    defaults.set(UserDefaultsCacheKeys::apiToken, "t0ken");
    defaults.set(UserDefaultsCacheKeys::userInfo, {{"id", 1}});
    defaults.set(UserDefaultsCacheKeys::userAccount, "a@b.cn");
    defaults.set(UserDefaultsCacheKeys::subNodes, PropertyValue::array({"香港"}));
    defaults.set(UserDefaultsCacheKeys::serverId, 3);
    defaults.set(UserDefaultsCacheKeys::lastAmount, "1.0 G");
    defaults.set(UserDefaultsCacheKeys::allNodes, PropertyValue::array({"香港"}));
    defaults.set(UserDefaultsCacheKeys::lastOkHost, "http://a");
    defaults.set(UserDefaultsCacheKeys::deviceId, "Linux-X");
    defaults.set(UserDefaultsCacheKeys::lastAccountIdPw, {{"accountid", "a"}, {"accountpw", "p"}});
    defaults.set(UserDefaultsCacheKeys::lastAutoLogin, "true");

    // An answer to a request made with an older token speaks of a session that has gone.
    EXPECT_EQ(interpret(answerWithToken({{"code", 40101}, {"msg", "登录已失效"}}, "old")),
              Lines{"msg:登录已失效"});
    EXPECT_TRUE(defaults.value(UserDefaultsCacheKeys::userInfo));

    EXPECT_EQ(interpret(answerWithToken({{"code", 40101}, {"msg", "登录已失效"}}, "t0ken")),
              (Lines{"msg:登录已失效", "msg:[40101]登录已失效"}));
    for (const char *gone : {UserDefaultsCacheKeys::apiToken,
                             UserDefaultsCacheKeys::userInfo,
                             UserDefaultsCacheKeys::userAccount,
                             UserDefaultsCacheKeys::subNodes,
                             UserDefaultsCacheKeys::serverId,
                             UserDefaultsCacheKeys::lastAmount})
        EXPECT_FALSE(defaults.value(gone)) << gone;
    for (const char *kept : {UserDefaultsCacheKeys::allNodes,
                             UserDefaultsCacheKeys::lastOkHost,
                             UserDefaultsCacheKeys::deviceId,
                             UserDefaultsCacheKeys::lastAccountIdPw,
                             UserDefaultsCacheKeys::lastAutoLogin})
        EXPECT_TRUE(defaults.value(kept)) << kept;

    // Without a failure handler the session is cleared all the same.
    defaults.set(UserDefaultsCacheKeys::apiToken, "again");
    NetWorkTool::handleResponse(answerWithToken({{"code", 40101}}, "again"), {}, 0, {});
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::apiToken));
}

TEST_F(NetWorkToolTest, MergesStoredBackupsBeforeTheBuiltins)
{
    home.setVariable("ORVANE_API_BASE_URLS", "http://b0 http://b1 http://b2");
    EXPECT_EQ(NetWorkTool::baseUrlList(), (Lines{"http://b0", "http://b1", "http://b2"}));

    defaults.set(UserDefaultsCacheKeys::backupUrls, PropertyValue::array({"http://x", "http://b0"}));
    EXPECT_EQ(NetWorkTool::baseUrlList(),
              (Lines{"http://x", "http://b0", "http://b1", "http://b2"}));

    defaults.set(UserDefaultsCacheKeys::backupUrls, PropertyValue::array({"", "http://x", " "}));
    EXPECT_EQ(NetWorkTool::baseUrlList(),
              (Lines{"http://x", "http://b0", "http://b1", "http://b2"}));

    defaults.set(UserDefaultsCacheKeys::backupUrls, PropertyValue::array({"http://x", 5}));
    EXPECT_EQ(NetWorkTool::baseUrlList(), (Lines{"http://b0", "http://b1", "http://b2"}));

    // Anything but three replacements leaves the compiled-in bases.
    home.setVariable("ORVANE_API_BASE_URLS", "http://only-one");
    EXPECT_EQ(KvApi::builtinBaseUrls().size(), 3u);
    EXPECT_NE(KvApi::builtinBaseUrls()[0], "http://only-one");
}

TEST_F(NetWorkToolTest, ComposesUrlsHeadersAndThePaymentPage)
{
    EXPECT_EQ(NetWorkTool::composeUrl("api.example.com", "/api/x"), "http://api.example.com/api/x");
    EXPECT_EQ(NetWorkTool::composeUrl("https://a.example", "/api/x?id=3"),
              "https://a.example/api/x?id=3");
    EXPECT_EQ(NetWorkTool::composeUrl("HTTPS://a", "/p"), "http://HTTPS://a/p");

    home.setVariable("ORVANE_PAYMENT_ORIGIN", "https://pay.example");
    EXPECT_EQ(KvApi::paymentPageUrl("a b&c=d/+", 1765000000123),
              "https://pay.example/webpay/#/?token=a%20b%26c%3Dd%2F%2B&time=1765000000123");
    EXPECT_EQ(KvApi::paymentPageUrl(std::nullopt, 1), "https://pay.example/webpay/#/");

    const auto headers = NetWorkTool::requestHeaders("t0ken", "2.10.1");
    EXPECT_EQ(headers.at("token"), "t0ken");
    EXPECT_EQ(headers.at("authorization"), "t0ken");
    EXPECT_EQ(headers.at("version"), "2101");
    EXPECT_EQ(NetWorkTool::requestHeaders(std::nullopt, std::nullopt).size(), 0u);

    // A value that could end the header and start another is never sent.
    EXPECT_EQ(NetWorkTool::requestHeaders("t0ken\r\nX-Evil: 1", "1.0\n").size(), 0u);
    defaults.set(UserDefaultsCacheKeys::apiToken, "t0ken\nX-Evil: 1");
    EXPECT_FALSE(NetWorkTool::storedToken());
}

TEST_F(NetWorkToolTest, DeviceIdentifierIsMadeOnceAndOutlivesThePreferences)
{
    // The keyring is shared by every test of the run, so its item may exist already: then the
    // identifier comes from it and is not copied into the preferences.
    const std::string first = NetWorkTool::deviceId();
    EXPECT_TRUE(std::regex_match(first,
                                 std::regex("Linux-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-"
                                            "[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << first;
    if (const auto stored = defaults.string(UserDefaultsCacheKeys::deviceId))
        EXPECT_EQ(*stored, first);
    else
        EXPECT_EQ(WvKeyChain::loadString(UserDefaultsCacheKeys::deviceId), first);
    EXPECT_EQ(NetWorkTool::deviceId(), first);

    const char *keyring = std::getenv("ORVANE_TEST_KEYRING");
    if (!keyring || std::string(keyring) != "1")
        GTEST_SKIP() << "the keychain half needs the keyring scripts/test provides";
    // Once the preferences lose their copy, the keychain's wins and is not copied back.
    const auto kept = WvKeyChain::loadString(UserDefaultsCacheKeys::deviceId);
    ASSERT_TRUE(kept);
    defaults.remove(UserDefaultsCacheKeys::deviceId);
    EXPECT_EQ(NetWorkTool::deviceId(), *kept);
    EXPECT_EQ(NetWorkTool::deviceId(), *kept);
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::deviceId));
}

TEST_F(NetWorkToolTest, ConvertsServerTimesAndCountsDays)
{
    home.setVariable("TZ", "UTC");
    ::tzset();
    const std::string pattern = "yyyy-MM-dd HH:mm:ss";
    EXPECT_EQ(NetWorkTool::convertDateString("2027-01-06T15:04:05+08:00", pattern),
              "2027-01-06 07:04:05");
    EXPECT_EQ(NetWorkTool::convertDateString("2027-01-06T15:04:05.250Z", pattern),
              "2027-01-06 15:04:05");
    EXPECT_EQ(NetWorkTool::convertDateString("2024-02-29T23:30:00-01:00", pattern),
              "2024-03-01 00:30:00");
    for (const std::string bad : {"2027-01-06 15:04:05",
                                  "2027-01-06T15:04:05",
                                  "2027-02-30T00:00:00Z",
                                  "2027-01-06T25:04:05Z",
                                  "",
                                  "明天"})
        EXPECT_EQ(NetWorkTool::convertDateString(bad, pattern), "") << bad;

    home.setVariable("TZ", "Asia/Shanghai");
    ::tzset();
    EXPECT_EQ(NetWorkTool::convertDateString("2027-01-06T20:00:00Z", pattern),
              "2027-01-07 04:00:00");

    EXPECT_EQ(NetWorkTool::daysBetween("2026-12-07", "2026-12-10"), 3);
    EXPECT_EQ(NetWorkTool::daysBetween("2026-12-10", "2026-12-07"), -3);
    EXPECT_EQ(NetWorkTool::daysBetween("2024-02-28", "2024-03-01"), 2);
    EXPECT_EQ(NetWorkTool::daysBetween("2026-12-31", "2027-01-01"), 1);
    EXPECT_FALSE(NetWorkTool::daysBetween("", "2026-12-10"));
    EXPECT_FALSE(NetWorkTool::daysBetween("2026-12-07", "2026-13-01"));
    EXPECT_EQ(NetWorkTool::daysFromToday(
                  NetWorkTool::formatDate(Platform::DateFormat::now(), "yyyy-MM-dd")),
              0);
}

TEST_F(NetWorkToolTest, ExpiriesFromYearOneToYear9999AreShownWithTheirDayCount)
{
    // Fixed offsets: a named zone's rules would put local mean time into year 1.
    const std::tuple<const char *, const char *, std::string> cases[] = {
        {"UTC0", "9999-12-31T23:59:59+08:00", "9999-12-31 15:59:59"},
        {"<-05>5", "9999-12-31T23:59:59+08:00", "9999-12-31 10:59:59"},
        {"UTC0", "0001-01-01T12:00:00Z", "0001-01-01 12:00:00"},
        {"<-05>5", "0001-01-01T12:00:00Z", "0001-01-01 07:00:00"},
    };
    for (const auto &[zone, stamp, display] : cases) {
        home.setVariable("TZ", zone);
        ::tzset();
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        char today[16];
        std::strftime(today, sizeof today, "%Y-%m-%d", &local);
        const long days = *Platform::DateFormat::dayNumber(display.substr(0, 10))
                          - *Platform::DateFormat::dayNumber(today);

        EXPECT_EQ(NetWorkTool::convertDateString(stamp, "yyyy-MM-dd HH:mm:ss"), display);
        const auto expiry = UserInfo::expiry({{"member_expiry_at", stamp}});
        ASSERT_TRUE(expiry);
        EXPECT_EQ(expiry->display, display) << zone;
        EXPECT_EQ(expiry->days, int(days)) << zone << " " << stamp;
    }
}

TEST_F(NetWorkToolTest, OpensOnlyWebPagesThroughTheDesktop)
{
    RecordingBrowser browser(home);
    NetWorkTool::openInBrowser("javascript:alert(1)");
    NetWorkTool::openInBrowser("file:///etc/passwd");
    NetWorkTool::openInBrowser("http://a b");
    NetWorkTool::openInBrowser("https://pay.example/webpay/#/?token=a%2Bb;id&time=1");
    ASSERT_TRUE(queue->runUntil([&] {
        return !log.systemMessages().empty()
               && log.systemMessages().back() == "default browser was successfully opened";
    }));
    EXPECT_EQ(browser.calls(),
              std::vector<std::string>{"1|https://pay.example/webpay/#/?token=a%2Bb;id&time=1"});
}
