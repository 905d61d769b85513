#include "api/ConsoleRequests.h"
#include "api/QaroShared.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "api/UserInfo.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "RecordingConsoleScreen.h"
#include "RunningBackend.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <limits>

using Platform::PropertyValue;
using Lines = std::vector<std::string>;

namespace {

class ConsoleRequestsTest : public testing::Test
{
protected:
    ConsoleRequestsTest()
    {
        home.setVariable("ORVANE_API_BASE_URLS", backend.asEveryBaseUrl());
        defaults.set(UserDefaultsCacheKeys::apiToken,
                     backend.signIn("demo@orvane.test", "demo123456"));
    }

    std::pair<bool, std::string> loadServiceInfo()
    {
        std::optional<std::pair<bool, std::string>> result;
        requests.loadServiceInfo([&](bool ok, const std::string &message) {
            EXPECT_FALSE(result) << "completed twice";
            result = {ok, message};
        });
        EXPECT_TRUE(queue->runUntil([&] { return result.has_value(); }));
        queue->runUntilIdle();
        return result.value_or(std::make_pair(false, std::string("<none>")));
    }

    std::vector<std::optional<KvNetWorkError>> loadUserInfo()
    {
        std::vector<std::optional<KvNetWorkError>> reports;
        requests.loadUserInfo([&](const auto &error) { reports.push_back(error); });
        EXPECT_TRUE(queue->runUntil([&] { return !reports.empty(); }));
        queue->runUntilIdle();
        return reports;
    }

    void setUser(const nlohmann::json &members)
    {
        nlohmann::json body = members;
        body["email"] = "demo@orvane.test";
        backend.admin("POST", "/_dev/users", body);
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    RunningBackend backend{home.root() / "backend"};
    UserDefaults defaults = UserDefaults::standard();
    RecordingConsoleScreen screen;
    ConsoleRequests requests{screen};
};

} // namespace

TEST_F(ConsoleRequestsTest, TheServiceGateStoresWhatItReadsAndOpensForAValidService)
{
    EXPECT_EQ(loadServiceInfo(), std::make_pair(true, std::string()));
    EXPECT_EQ(screen.take(), Lines{"traffic:100.0 G"});
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastAmount), "100.0 G");
    EXPECT_GE(defaults.integer(UserDefaultsCacheKeys::serverId), 1);
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), backend.origin());

    const auto uuid = QaroShared::shared().value(QaroShared::subUuidKey);
    ASSERT_TRUE(uuid && uuid->is_string());
    const std::string text = uuid->get<std::string>();
    bool logged = false;
    for (const auto &line : log.printed()) {
        EXPECT_EQ(line.find(text), std::string::npos) << "the subscription uuid reached a log";
        logged = logged || line.starts_with("--saveSubUUID:");
    }
    EXPECT_TRUE(logged);
}

TEST_F(ConsoleRequestsTest, TheServiceGateChecksMembershipBeforeTraffic)
{
    loadServiceInfo();
    screen.take();
    const auto firstUuid = QaroShared::shared().value(QaroShared::subUuidKey);

    setUser({{"service_status", false}, {"sub_status", false}, {"sub_uuid", "replaced"}});
    EXPECT_EQ(loadServiceInfo(), std::make_pair(false, std::string("会员已到期，请前往订阅续费！")));
    EXPECT_EQ(screen.take(), (Lines{"traffic:100.0 G", "stop"}));
    EXPECT_EQ(QaroShared::shared().value(QaroShared::subUuidKey), firstUuid);

    setUser({{"service_status", nullptr},
             {"total_bandwidth", 1000 * 1024 * 1024},
             {"used_up", 1000 * 1024 * 1024},
             {"used_down", 1024 * 1024},
             {"sub_status", nullptr}});
    EXPECT_EQ(loadServiceInfo(), std::make_pair(false, std::string("流量已超标，请前往订阅续费！")));
    EXPECT_EQ(screen.take(), (Lines{"traffic:-1.0 M", "stop"}));

    setUser({{"used_up", 0}, {"used_down", 0}, {"sub_uuid", nullptr}});
    EXPECT_EQ(loadServiceInfo(), std::make_pair(false, std::string("subuuid.is.null")));
    EXPECT_EQ(screen.take(), Lines{"traffic:1000.0 M"});

    setUser({{"has_service", false}});
    EXPECT_EQ(loadServiceInfo(), std::make_pair(false, std::string("未找到订阅服务，请前往订阅")));
    EXPECT_TRUE(screen.take().empty());
}

TEST(ConsoleRequests, RemainingTrafficIsShownInMebibytesOrGibibytes)
{
    const long double mebibyte = 1024.0L * 1024.0L;
    EXPECT_EQ(ConsoleRequests::remainingTrafficText(10 * 1024 * mebibyte, 0, 0), "10.0 G");
    EXPECT_EQ(ConsoleRequests::remainingTrafficText(1000 * mebibyte, 0, 0), "1000.0 M");
    EXPECT_EQ(ConsoleRequests::remainingTrafficText(mebibyte, 0, 0), "1.0 M");
    EXPECT_EQ(ConsoleRequests::remainingTrafficText(0, mebibyte, 0), "-1.0 M");
    // Values that would overflow a 64-bit subtraction still give a sensible text.
    const auto largest = static_cast<long double>(std::numeric_limits<std::uint64_t>::max());
    const auto smallest = static_cast<long double>(std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ConsoleRequests::remainingTrafficText(largest, smallest, 0), "25769803776.0 G");
}

TEST_F(ConsoleRequestsTest, TheUsersRecordFromUserInfoKeepsNumbersAsNumbers)
{
    EXPECT_EQ(loadUserInfo(), std::vector<std::optional<KvNetWorkError>>{std::nullopt});
    const auto record = UserInfo::stored();
    ASSERT_TRUE(record);
    EXPECT_TRUE((*record)["invitation_code"].is_number_integer());
    EXPECT_TRUE((*record)["id"].is_number_integer());
    EXPECT_TRUE((*record)["member_expiry_at"].is_string());
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::userAccount), "demo@orvane.test");
    EXPECT_TRUE(screen.take().empty());

    // Without a token nothing is asked, and the completion does not run.
    defaults.remove(UserDefaultsCacheKeys::apiToken);
    backend.takeRequests();
    bool completed = false;
    requests.loadUserInfo([&](const auto &) { completed = true; });
    queue->runUntilIdle();
    EXPECT_FALSE(completed);
    EXPECT_TRUE(backend.takeRequests().empty());
}

TEST_F(ConsoleRequestsTest, AUserRecordArrivingAfterSignOutIsNotStored)
{
    backend
        .admin("POST",
               "/_dev/faults",
               {{"path", KvApi::userInfoPath}, {"kind", "delay"}, {"delay_ms", 100}, {"times", 1}});
    std::vector<std::optional<KvNetWorkError>> reports;
    requests.loadUserInfo([&](const auto &error) { reports.push_back(error); });
    NetWorkTool::clearSession();
    ASSERT_TRUE(queue->runUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports, std::vector<std::optional<KvNetWorkError>>{std::nullopt});
    EXPECT_FALSE(UserInfo::stored());
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::userAccount));
}

TEST_F(ConsoleRequestsTest, AnExpiredSignInIsHandledOnceAndForgetsTheSession)
{
    defaults.set(UserDefaultsCacheKeys::lastAccountIdPw,
                 {{"accountid", "demo@orvane.test"}, {"accountpw", "demo123456"}});
    defaults.set(UserDefaultsCacheKeys::deviceId, "Linux-KEEP");
    backend.admin("POST", "/_dev/expire-token", {{"email", "demo@orvane.test"}});

    const auto reports = loadUserInfo();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0]->isSessionExpired()) << reports[0]->text();
    EXPECT_EQ(screen.take(), (Lines{"toast:" + reports[0]->text(), "stop"}));
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::apiToken));
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::userInfo));
    EXPECT_TRUE(defaults.value(UserDefaultsCacheKeys::lastAccountIdPw));
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::deviceId), "Linux-KEEP");

    defaults.set(UserDefaultsCacheKeys::apiToken, backend.signIn("demo@orvane.test", "demo123456"));
    backend.admin("POST", "/_dev/expire-token", {{"email", "demo@orvane.test"}});
    const auto [ok, message] = loadServiceInfo();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(message.starts_with("[40101]")) << message;
    EXPECT_EQ(screen.take(), (Lines{"refresh", "stop"}));
}

TEST_F(ConsoleRequestsTest, PublicSettingsStoreTheBackupsThenLoadUserAndNodes)
{
    backend.admin("POST",
                  "/_dev/public-setting",
                  {{"backend_url", backend.origin() + "\r\n\nhttp://x"}});
    backend.takeRequests();
    requests.loadPublicSetting();
    ASSERT_TRUE(queue->runUntil([&] {
        return defaults.value(UserDefaultsCacheKeys::allNodes).has_value()
               && UserInfo::stored().has_value();
    }));
    EXPECT_EQ(defaults.list(UserDefaultsCacheKeys::backupUrls),
              PropertyValue::array({backend.origin(), "", "http://x"}));
    Lines paths;
    for (const auto &request : backend.takeRequests())
        paths.push_back(request["path"]);
    EXPECT_EQ(paths.front(), KvApi::publicSettingPath);
    EXPECT_NE(std::find(paths.begin(), paths.end(), KvApi::userInfoPath), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), KvApi::nodeNamesPath), paths.end());

    // A failing answer says so once, with its reason.
    backend.admin("POST",
                  "/_dev/faults",
                  {{"path", KvApi::publicSettingPath}, {"kind", "500"}, {"times", 1}});
    requests.loadPublicSetting();
    ASSERT_TRUE(queue->runUntil([&] { return !screen.events.empty(); }));
    EXPECT_EQ(screen.take(), Lines{"toast:信息加载失败:服务器内部错误"});
}

TEST_F(ConsoleRequestsTest, NodeListsAreStoredOnlyWhenTheyHaveNodes)
{
    loadServiceInfo(); // pins the base and stores the service id
    requests.loadNodeNames();
    requests.loadSubscribeNodeList();
    ASSERT_TRUE(queue->runUntil([&] {
        return defaults.value(UserDefaultsCacheKeys::allNodes).has_value()
               && defaults.value(UserDefaultsCacheKeys::subNodes).has_value();
    }));
    const auto allNodes = *defaults.list(UserDefaultsCacheKeys::allNodes);
    EXPECT_GT(allNodes.size(), 2u);
    EXPECT_EQ(*defaults.list(UserDefaultsCacheKeys::subNodes), allNodes); // level 1: every node

    backend.admin("POST",
                  "/_dev/nodes",
                  {{"all", nlohmann::json::array()}, {"subscription", nlohmann::json::array()}});
    backend.takeRequests();
    requests.loadNodeNames();
    requests.loadSubscribeNodeList();
    ASSERT_TRUE(queue->runUntil([&] { return backend.admin("GET", "/_dev/requests").size() == 2; }));
    queue->runUntil([] { return false; }, 0.2);
    EXPECT_EQ(*defaults.list(UserDefaultsCacheKeys::allNodes), allNodes);
    EXPECT_EQ(*defaults.list(UserDefaultsCacheKeys::subNodes), allNodes);
}
