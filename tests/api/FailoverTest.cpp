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
#include <condition_variable>
#include <functional>
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

    // Runs the queue until a condition that servers, not the queue, make true.
    bool pollUntil(const std::function<bool()> &condition)
    {
        for (int step = 0; step < 1000; ++step) {
            if (queue->runUntil(condition, 0.01))
                return true;
        }
        return false;
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

std::string userEnvelope(const std::string &user)
{
    return R"({"code": 0, "msg": "", "data": {"user_name": ")" + user + R"("}})";
}

// A working base that answers, as the given user, only once it is let go.
class HeldServer
{
public:
    explicit HeldServer(const std::string &user)
    {
        m_server.server().Get(".*",
                              [this, user](const httplib::Request &, httplib::Response &response) {
                                  std::unique_lock lock(m_mutex);
                                  ++m_arrived;
                                  m_changed.notify_all();
                                  m_changed.wait(lock, [this] { return m_letGo; });
                                  response.set_content(userEnvelope(user), "application/json");
                                  ++m_answered;
                              });
        m_server.server().set_keep_alive_max_count(1); // so that stopping waits for no connection
        m_server.start();
    }
    ~HeldServer() { letGo(); }

    std::string origin() const { return m_server.origin(); }
    void letGo()
    {
        std::lock_guard lock(m_mutex);
        m_letGo = true;
        m_changed.notify_all();
    }
    int arrived() const
    {
        std::lock_guard lock(m_mutex);
        return m_arrived;
    }
    int answered() const
    {
        std::lock_guard lock(m_mutex);
        return m_answered;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_letGo = false;
    int m_arrived = 0;
    int m_answered = 0;
    LoopbackServer m_server;
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

// A working fourth base behind three blocked ones: silent and dropping bases cost a head start
// each, refused ones nothing, and a working first base is asked alone, as before racing.
TEST_F(FailoverTest, BlockedBasesCostAHeadStartEach)
{
    enum class Blocked { silent, dropping, refused, none };
    const double headStart = ServiceRequest::headStartSeconds();
    for (const auto &[blocked, expectedSeconds] : {std::pair{Blocked::silent, 3 * headStart},
                                                   std::pair{Blocked::dropping, 3 * headStart},
                                                   std::pair{Blocked::refused, 0.0},
                                                   std::pair{Blocked::none, 0.0}}) {
        SCOPED_TRACE(int(blocked));
        std::vector<std::unique_ptr<SilentServer>> silent;
        std::vector<std::unique_ptr<DroppingPort>> dropping;
        std::vector<std::string> list;
        for (int i = 0; i < 3; ++i) {
            if (blocked == Blocked::dropping) {
                dropping.push_back(std::make_unique<DroppingPort>());
                list.push_back(dropping.back()->origin());
            } else if (blocked == Blocked::refused) {
                list.push_back("http://127.0.0.1:" + std::to_string(refusedPort()));
            } else {
                silent.push_back(std::make_unique<SilentServer>());
                list.push_back(silent.back()->origin());
            }
        }
        // With nothing blocked the working base comes first, and the silent ones after it.
        list.insert(blocked == Blocked::none ? list.begin() : list.end(), good.origin());
        defaults.set(UserDefaultsCacheKeys::backupUrls, list);
        defaults.remove(UserDefaultsCacheKeys::lastOkHost);
        {
            std::lock_guard lock(mutex);
            tried.clear();
        }
        ConsoleRequests requests(screen);
        int outcomes = 0;
        const double start = queue->now();
        requests.loadUserInfo([&](const auto &error) {
            EXPECT_FALSE(error);
            ++outcomes;
        });
        if (blocked == Blocked::silent || blocked == Blocked::dropping)
            queue->advance(3 * headStart);
        ASSERT_TRUE(queue->runUntil([&] { return outcomes > 0; }));
        EXPECT_DOUBLE_EQ(queue->now() - start, expectedSeconds);
        EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), good.origin());
        EXPECT_EQ(triedSoFar(), Lines{"good"});
        // The blocked exchanges were cancelled: their connections are closed, nothing comes late.
        const int connections = blocked == Blocked::silent ? 1 : 0;
        EXPECT_TRUE(pollUntil([&] {
            return std::all_of(silent.begin(), silent.end(), [&](const auto &server) {
                return server->connections() == connections && server->openConnections() == 0;
            });
        }));
        queue->advance(10 * headStart);
        EXPECT_EQ(outcomes, 1);
        for (const auto &server : silent)
            EXPECT_EQ(server->connections(), connections);
    }
}

// The first complete answer is the call's, even from a base that began late: it alone is
// pinned and stored, and the other answer, cancelled, changes nothing when it comes.
TEST_F(FailoverTest, TheFirstCompleteAnswerWinsAndTheOtherLeavesNothing)
{
    for (const bool together : {false, true}) {
        SCOPED_TRACE(together);
        HeldServer first("first@b.cn");
        HeldServer second("second@b.cn");
        defaults.set(UserDefaultsCacheKeys::backupUrls,
                     PropertyValue::array({first.origin(), second.origin()}));
        defaults.remove(UserDefaultsCacheKeys::lastOkHost);
        ConsoleRequests requests(screen);
        int outcomes = 0;
        requests.loadUserInfo([&](const auto &) { ++outcomes; });
        ASSERT_TRUE(pollUntil([&] { return first.arrived() == 1; }));
        queue->advance(ServiceRequest::headStartSeconds());
        ASSERT_TRUE(pollUntil([&] { return second.arrived() == 1; }));

        first.letGo();
        if (together)
            second.letGo();
        ASSERT_TRUE(queue->runUntil([&] { return outcomes > 0; }));
        second.letGo();
        ASSERT_TRUE(pollUntil([&] { return second.answered() == 1; }));
        queue->runUntil([] { return false; }, 0.3); // room for a late answer to show
        EXPECT_EQ(outcomes, 1);
        const auto pinned = defaults.string(UserDefaultsCacheKeys::lastOkHost);
        ASSERT_TRUE(pinned == first.origin() || (together && pinned == second.origin()));
        EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::userAccount),
                  pinned == first.origin() ? "first@b.cn" : "second@b.cn");
    }
}

// A request for an e-mail code races for a connection only and goes to one server: past a base
// whose handshake is dropped to the working one, or to a silent base that took it first, and
// then to no other when that one never answers.
TEST_F(FailoverTest, AnEmailCodeReachesExactlyOneServer)
{
    good.server().Post(".*", [&](const httplib::Request &, httplib::Response &response) {
        record("code");
        response.set_content(R"({"code": 0, "msg": "", "data": ""})", "application/json");
    });
    const auto codesSoFar = [&] {
        const Lines lines = triedSoFar();
        return std::count(lines.begin(), lines.end(), "code");
    };
    SignInRequests requests;
    std::optional<ServiceRequest::Outcome> outcome;
    const auto ask = [&] {
        outcome.reset();
        requests.requestEmailCode("a@b.cn",
                                  SignInRequests::CodePurpose::registration,
                                  [&](const auto &result) { outcome = result; });
    };

    DroppingPort dropping;
    home.setVariable("ORVANE_API_BASE_URLS",
                     dropping.origin() + " " + good.origin() + " " + good.origin());
    ask();
    queue->advance(ServiceRequest::headStartSeconds());
    ASSERT_TRUE(queue->runUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(outcome->kind, ServiceRequest::Outcome::Kind::succeeded);
    EXPECT_EQ(codesSoFar(), 1);

    auto silent = std::make_unique<SilentServer>();
    home.setVariable("ORVANE_API_BASE_URLS",
                     silent->origin() + " " + good.origin() + " " + good.origin());
    defaults.remove(UserDefaultsCacheKeys::lastOkHost);
    ask();
    ASSERT_TRUE(pollUntil([&] { return silent->bytesReceived() > 0; }));
    queue->advance(10 * ServiceRequest::headStartSeconds());
    silent.reset(); // the silent base goes, having said nothing
    ASSERT_TRUE(queue->runUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(outcome->kind, ServiceRequest::Outcome::Kind::failed);
    EXPECT_EQ(outcome->error, KvNetWorkError::msg("网络连接已中断。"));
    EXPECT_EQ(codesSoFar(), 1);
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::lastOkHost));
}

// Legs end in any order: the counter only moves on, and the call is exhausted only when its
// last running leg has failed too.
TEST_F(FailoverTest, RacingLegsKeepTheCounterAndExhaustOnlyAtTheEnd)
{
    auto silentFirst = std::make_unique<SilentServer>();
    auto silentLater = std::make_unique<SilentServer>();
    HangingUpServer hangingUp("hangingUp", tried, mutex);
    defaults.set(UserDefaultsCacheKeys::backupUrls,
                 PropertyValue::array(
                     {silentFirst->origin(), hangingUp.origin(), silentLater->origin()}));
    ConsoleRequests requests(screen);
    std::optional<std::optional<KvNetWorkError>> reported;
    requests.loadUserInfo([&](const auto &error) { reported = error; });

    queue->advance(ServiceRequest::headStartSeconds());
    ASSERT_TRUE(pollUntil([&] { return silentLater->connections() == 1; }));
    EXPECT_EQ(requests.requsetCount(), 2);
    const auto failedFor = [&](const std::string &origin) {
        const auto lines = log.printed();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
            return line.find(origin) != std::string::npos;
        });
    };
    const std::string firstOrigin = silentFirst->origin();
    silentFirst.reset();
    ASSERT_TRUE(queue->runUntil([&] { return failedFor(firstOrigin); }));
    queue->runUntilIdle();
    EXPECT_EQ(requests.requsetCount(), 2);

    queue->advance(ServiceRequest::headStartSeconds());
    ASSERT_TRUE(pollUntil([&] { return triedSoFar().size() == 4; }));
    queue->runUntilIdle();
    EXPECT_FALSE(reported);
    silentLater.reset();
    ASSERT_TRUE(queue->runUntil([&] { return reported.has_value(); }));
    ASSERT_TRUE(*reported);
    EXPECT_EQ((*reported)->text(), "加载失败，请稍候重试");
    EXPECT_EQ(triedSoFar(), (Lines{"hangingUp", "b0", "b1", "b2"}));
    EXPECT_EQ(requests.requsetCount(), 0);
}
