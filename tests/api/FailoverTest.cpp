#include "api/ConsoleRequests.h"
#include "api/NodeLists.h"
#include "api/SignInRequests.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "LoopbackServer.h"
#include "RecordingConsoleScreen.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using Platform::PropertyValue;
using Lines = std::vector<std::string>;

namespace {

// Three built-in bases that cannot be reached, a log of which of them was tried, and a base
// that answers.
class FailoverTest : public testing::Test
{
protected:
    FailoverTest()
    {
        home.setVariable("ORVANE_API_BASE_URLS",
                         builtin0.origin() + " " + builtin1.origin() + " " + builtin2.origin());
        good.server().Get(".*", [this](const httplib::Request &, httplib::Response &response) {
            record("good");
            response.set_content(R"({"code": 0, "msg": "", "data": {"user_name": "a@b.cn"}})",
                                 "application/json");
        });
        good.start();
        defaults.set(UserDefaultsCacheKeys::apiToken, "t0ken");
    }

    void record(const std::string &name)
    {
        std::lock_guard lock(mutex);
        tried.push_back(name);
    }

    Lines triedSoFar()
    {
        std::lock_guard lock(mutex);
        return tried;
    }

    // Runs the console's user-info request to its end and returns the error it reported.
    std::optional<KvNetWorkError> loadUserInfo(ConsoleRequests &requests)
    {
        bool done = false;
        std::optional<KvNetWorkError> reported;
        requests.loadUserInfo([&](const std::optional<KvNetWorkError> &error) {
            reported = error;
            done = true;
        });
        EXPECT_TRUE(queue->runUntil([&] { return done; }));
        return reported;
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    std::mutex mutex;
    Lines tried;
    HangingUpServer builtin0{"b0", tried, mutex};
    HangingUpServer builtin1{"b1", tried, mutex};
    HangingUpServer builtin2{"b2", tried, mutex};
    LoopbackServer good;
    UserDefaults defaults = UserDefaults::standard();
    RecordingConsoleScreen screen;
};

} // namespace

TEST_F(FailoverTest, SignInTriesEachBuiltinOnceThenGivesUpAndStartsOverNextTime)
{
    SignInRequests requests;
    for (int round = 1; round <= 2; ++round) {
        std::optional<ServiceRequest::Outcome> outcome;
        requests.login("a@b.cn", "secret1", [&](const auto &result) { outcome = result; });
        ASSERT_TRUE(queue->runUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(outcome->kind, ServiceRequest::Outcome::Kind::exhausted);
        EXPECT_EQ(requests.iRetry(), 0);
        EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::lastOkHost));
    }
    EXPECT_EQ(triedSoFar(), (Lines{"b0", "b1", "b2", "b0", "b1", "b2"}));
}

TEST_F(FailoverTest, TheConsoleTriesStoredBackupsFirstSkippingBlankLines)
{
    HangingUpServer backup("backup", tried, mutex);
    defaults.set(UserDefaultsCacheKeys::backupUrls,
                 PropertyValue::array({"", backup.origin(), builtin0.origin(), ""}));
    ConsoleRequests requests(screen);

    const auto error = loadUserInfo(requests);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text(), "加载失败，请稍候重试");
    EXPECT_EQ(triedSoFar(), (Lines{"backup", "b0", "b1", "b2"}));
    EXPECT_EQ(requests.requsetCount(), 0);
    EXPECT_TRUE(screen.events.empty());
}

TEST_F(FailoverTest, ADeadPinnedBaseIsFollowedByTheFirstListEntry)
{
    HangingUpServer pinned("pinned", tried, mutex);
    defaults.set(UserDefaultsCacheKeys::lastOkHost, pinned.origin());
    defaults.set(UserDefaultsCacheKeys::backupUrls, PropertyValue::array({good.origin()}));
    ConsoleRequests requests(screen);

    EXPECT_FALSE(loadUserInfo(requests));
    EXPECT_EQ(triedSoFar(), (Lines{"pinned", "good"}));
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), good.origin());
    EXPECT_EQ(requests.requsetCount(), 0);
}

TEST_F(FailoverTest, AMalformedOrRefusingBaseIsPassedOver)
{
    defaults.set(UserDefaultsCacheKeys::backupUrls,
                 PropertyValue::array({"http://bad host",
                                       "127.0.0.1:" + std::to_string(refusedPort()),
                                       good.origin()}));
    ConsoleRequests requests(screen);

    EXPECT_FALSE(loadUserInfo(requests));
    EXPECT_EQ(triedSoFar(), Lines{"good"});
    EXPECT_EQ(requests.requsetCount(), 2);
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), good.origin());
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::userAccount), "a@b.cn");
}

TEST_F(FailoverTest, NodeListsAskOnlyThePinnedBase)
{
    auto owner = std::make_shared<int>(0);
    EXPECT_FALSE(NodeLists::loadNodeNames(owner, {}));
    defaults.set(UserDefaultsCacheKeys::serverId, 0);
    defaults.set(UserDefaultsCacheKeys::lastOkHost, good.origin());
    EXPECT_FALSE(NodeLists::loadSubscribeNodeList(owner, {}));

    // An unreachable pinned base is reported, not rotated away from.
    defaults.set(UserDefaultsCacheKeys::lastOkHost, builtin0.origin());
    std::optional<KvNetWorkError> reported;
    EXPECT_TRUE(NodeLists::loadNodeNames(owner, [&](const auto &, const auto &error) {
        reported = error;
    }));
    ASSERT_TRUE(queue->runUntil([&] { return reported.has_value(); }));
    EXPECT_EQ(reported->kind(), KvNetWorkError::Kind::invalidHost);
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), builtin0.origin());
    EXPECT_EQ(triedSoFar(), Lines{"b0"});
}

// Two requests at once, as the console's first appearance sends them, behind a dead base: each
// tries every base itself, so neither passes over the working one.
TEST_F(FailoverTest, RequestsAtTheSameTimeEachReachTheWorkingBase)
{
    HangingUpServer dead("dead", tried, mutex);
    LoopbackServer slow; // answers late, so neither request finds its base pinned in time
    slow.server().Get(".*", [this](const httplib::Request &, httplib::Response &response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        record("slow");
        response.set_content(R"({"code": 0, "msg": "", "data": {}})", "application/json");
    });
    slow.start();
    defaults.set(UserDefaultsCacheKeys::backupUrls,
                 PropertyValue::array({dead.origin(), slow.origin()}));
    ConsoleRequests requests(screen);

    std::vector<std::optional<KvNetWorkError>> reports;
    for (int i = 0; i < 2; ++i)
        requests.loadUserInfo([&](const auto &error) { reports.push_back(error); });
    ASSERT_TRUE(queue->runUntil([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports, (std::vector<std::optional<KvNetWorkError>>{std::nullopt, std::nullopt}));
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), slow.origin());
}

// When the pinned base dies, every other base is tried once, those before it in the list too.
TEST_F(FailoverTest, ADeadPinnedBaseIsFollowedByEveryOtherBase)
{
    const int laterPort = refusedPort();
    const std::string later = "http://127.0.0.1:" + std::to_string(laterPort);
    auto pinned = std::make_unique<LoopbackServer>();
    pinned->server().Get(".*", [](const httplib::Request &, httplib::Response &response) {
        response.set_content(R"({"code": 0, "msg": "", "data": {}})", "application/json");
    });
    pinned->start();
    const std::string pinnedOrigin = pinned->origin();
    defaults.set(UserDefaultsCacheKeys::backupUrls, PropertyValue::array({later, pinnedOrigin}));
    ConsoleRequests requests(screen);
    EXPECT_FALSE(loadUserInfo(requests));
    ASSERT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), pinnedOrigin);

    // The pinned base goes away and the first one comes back.
    pinned.reset();
    httplib::Server back;
    back.Get(".*", [this](const httplib::Request &, httplib::Response &response) {
        record("back");
        response.set_content(R"({"code": 0, "msg": "", "data": {}})", "application/json");
    });
    back.set_keep_alive_max_count(1); // so that stopping it waits for no idle connection
    ASSERT_TRUE(back.bind_to_port("127.0.0.1", laterPort));
    std::thread serving([&] { back.listen_after_bind(); });
    {
        std::lock_guard lock(mutex);
        tried.clear();
    }
    EXPECT_FALSE(loadUserInfo(requests));
    back.stop();
    serving.join();
    EXPECT_EQ(triedSoFar(), (Lines{"b0", "b1", "b2", "back"}));
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), later);
}
