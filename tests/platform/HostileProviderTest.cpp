#include "SystemVPNServiceFixture.h"

#include "platform/ProviderChannel.h"

#include "ProviderProcesses.h"

#include <fstream>

using Platform::VPNStatus::connected;
using Platform::VPNStatus::connecting;
using Platform::VPNStatus::disconnected;
using Statuses = std::vector<int>;

namespace {

// The service on a configuration whose installed extension is the scripted provider, which
// misbehaves as each test tells it to (tests/helpers/ScriptedProvider.cpp).
class HostileProviderTest : public SystemVPNServiceTest
{
protected:
    HostileProviderTest()
    {
        const auto extension = paths.installedExtensions
                               / "com.qaromac.wv.sysne.systemextension/Contents";
        std::filesystem::create_directories(extension / "bin");
        std::filesystem::copy_file(ORVANE_SCRIPTED_PROVIDER, extension / "bin/scripted-provider");
        std::ofstream(extension / "Info.json") << R"({"CFBundleIdentifier": "com.qaromac.wv.sysne",
                   "CFBundleExecutable": "scripted-provider"})";
        save(configured(*service));
        restart();
    }

    ~HostileProviderTest() override
    {
        connection.reset();
        service.reset();
        killProcessesRunningFrom(home.root());
    }

    void play(const char *mode) { home.setVariable("ORVANE_SCRIPTED_PROVIDER", mode); }

    // Pumps real I/O, and moves the virtual clock on so that every deadline can pass, until the
    // condition holds; conditions outside the queue (processes, sockets) are looked at often.
    bool eventually(const std::function<bool()> &condition, bool moveClock = true)
    {
        for (int round = 0; round < 100; ++round) {
            if (queue->runUntil(condition, 0.1))
                return true;
            if (moveClock)
                queue->advance(0.5);
        }
        return false;
    }

    bool reaches(int status)
    {
        return eventually([&] { return connection->status() == status; });
    }

    // The application once more, as a new run finds it: a new service loads the configuration.
    void restart()
    {
        connection.reset();
        service = std::make_shared<Platform::SystemVPNService>(paths);
        std::optional<Platform::VPNService::Managers> loaded;
        service->loadAllFromPreferences(
            [&](const auto &managers, const auto &) { loaded = managers; });
        ASSERT_TRUE(eventually([&] { return loaded.has_value(); }));
        ASSERT_EQ(loaded->size(), 1u);
        connection = loaded->front()->connection();
        posted.clear();
    }

    void start() { EXPECT_FALSE(connection->startVPNTunnel({{"tunMode", "rule"}})); }

    std::size_t providers() { return processesRunningFrom(home.root()).size(); }
    std::filesystem::path socket() const { return paths.sockets / "com.qaromac.wv.sysne.sock"; }

    // Once nothing runs any more, a well-behaved provider starts and connects: nothing that
    // came before wedged the session.
    void expectALaterConnectWorks()
    {
        ASSERT_TRUE(eventually([&] { return providers() == 0; }));
        EXPECT_EQ(connection->status(), disconnected);
        play("good");
        start();
        EXPECT_TRUE(reaches(connected));
        EXPECT_EQ(providers(), 1u);
    }

    std::shared_ptr<Platform::VPNConnection> connection;
};

class MisbehavingLinesTest
    : public HostileProviderTest
    , public testing::WithParamInterface<const char *>
{ };

class UnresponsiveProviderTest
    : public HostileProviderTest
    , public testing::WithParamInterface<const char *>
{ };

// The "reason" member as JSON text, and the reason the connection then gives.
struct SentReason
{
    const char *name;
    std::string sent;
    std::optional<std::string> expected;
};

void PrintTo(const SentReason &reason, std::ostream *out)
{
    *out << reason.name;
}

class DisconnectReasonTest
    : public HostileProviderTest
    , public testing::WithParamInterface<SentReason>
{ };

} // namespace

// Lines that do not fit the protocol are ignored, whatever their members hold: the status
// stays what the provider's valid lines say, in this run and the next.
TEST_P(MisbehavingLinesTest, AreIgnoredAndTheTunnelStaysUsable)
{
    play(GetParam());
    start();
    ASSERT_TRUE(queue->runUntil([&] { return connection->status() == connected; }));
    EXPECT_EQ(posted, (Statuses{connecting, connected}));

    restart();
    ASSERT_EQ(connection->status(), connected);
    std::optional<std::optional<std::string>> reply;
    auto session = std::dynamic_pointer_cast<Platform::TunnelProviderSession>(connection);
    EXPECT_FALSE(session->sendProviderMessage("Hello", [&](const auto &data) { reply = data; }));
    ASSERT_TRUE(queue->runUntil([&] { return reply.has_value(); }));
    EXPECT_EQ(*reply, "ok");

    connection->stopVPNTunnel();
    EXPECT_TRUE(queue->runUntil([&] { return connection->status() == disconnected; }));
    expectALaterConnectWorks();
}

INSTANTIATE_TEST_SUITE_P(Providers,
                         MisbehavingLinesTest,
                         testing::Values("types", "garbage", "long"));

// A provider that never says ready, or never answers, is ended at its deadline, also when a
// later run of the app finds it; the controls are never left waiting.
TEST_P(UnresponsiveProviderTest, IsEndedAtItsDeadline)
{
    play(GetParam());
    start();
    EXPECT_EQ(connection->status(), connecting);
    EXPECT_TRUE(reaches(disconnected));
    expectALaterConnectWorks();

    if (GetParam() == std::string("never-ready"))
        return; // nothing of it is left for a later run to find
    connection->stopVPNTunnel();
    ASSERT_TRUE(reaches(disconnected));
    ASSERT_TRUE(eventually([&] { return providers() == 0; }));
    play(GetParam());
    start();
    ASSERT_TRUE(
        eventually([&] { return Platform::ProviderChannel::connect(socket()) != nullptr; }, false));
    restart(); // completes although the provider never answers
    EXPECT_TRUE(reaches(disconnected));
    expectALaterConnectWorks();
}

INSTANTIATE_TEST_SUITE_P(Providers,
                         UnresponsiveProviderTest,
                         testing::Values("never-ready", "silent", "half"));

TEST_F(HostileProviderTest, AStopThatIsNeverAnsweredEndsTheProvider)
{
    play("deaf");
    start();
    ASSERT_TRUE(reaches(connected));
    restart();
    EXPECT_EQ(connection->status(), connected);

    connection->stopVPNTunnel();
    EXPECT_TRUE(reaches(disconnected));
    expectALaterConnectWorks();
}

TEST_F(HostileProviderTest, AStopDuringTheLaunchEndsIt)
{
    play("never-ready");
    start();
    connection->stopVPNTunnel();
    EXPECT_TRUE(queue->runUntil([&] { return connection->status() == disconnected; }));
    expectALaterConnectWorks();
}

// A provider that reports itself down but stays connected is replaced by the next start, which
// says at once that it is connecting.
TEST_F(HostileProviderTest, AStartOverAProviderThatSaysItIsDownReplacesIt)
{
    play("says-down");
    start();
    ASSERT_TRUE(queue->runUntil([&] { return connection->status() == disconnected; }));
    posted.clear();

    play("good");
    start();
    queue->runUntilIdle();
    EXPECT_EQ(posted, Statuses{connecting});
    EXPECT_TRUE(reaches(connected));
    EXPECT_TRUE(eventually([&] { return providers() == 1; }));
}

// A reply that says the provider is down may say why: only text that is not empty counts, cut
// to the limit without splitting a character, and a member of another kind leaves the status in
// force.
TEST_P(DisconnectReasonTest, IsTakenOnlyFromText)
{
    const std::optional<std::string> &expected = GetParam().expected;
    home.setVariable("ORVANE_SCRIPTED_REASON", GetParam().sent);
    play("says-down");
    start();
    ASSERT_TRUE(queue->runUntil([&] { return connection->status() == disconnected; }));
    EXPECT_EQ(connection->lastDisconnectReason(), expected);
    EXPECT_EQ(log.hasSystemMessage("ignored a provider line: a reason that is no text"),
              !expected.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Reasons,
    DisconnectReasonTest,
    testing::Values(
        SentReason{"text", R"("隧道服务未安装，无法建立连接")", "隧道服务未安装，无法建立连接"},
        SentReason{"tooLong", '"' + std::string(1025, 'x') + '"', std::string(1024, 'x')},
        // The character over the limit goes whole.
        SentReason{"tooLongInACharacter",
                   '"' + std::string(1023, 'x') + "隧\"",
                   std::string(1023, 'x')},
        SentReason{"empty", R"("")", std::nullopt},
        SentReason{"null", "null", std::nullopt},
        SentReason{"number", "5", std::nullopt},
        SentReason{"array", R"(["隧道"])", std::nullopt}));

// A reason belongs to one report of being down: one on a running provider's status is ignored,
// and the next start forgets the last one at once.
TEST_F(HostileProviderTest, AReasonLastsFromTheReportOfBeingDownToTheNextStart)
{
    home.setVariable("ORVANE_SCRIPTED_REASON", R"("服务器关闭了连接")");
    play("good");
    start();
    ASSERT_TRUE(reaches(connected));
    EXPECT_EQ(connection->lastDisconnectReason(), std::nullopt);
    EXPECT_TRUE(
        log.hasSystemMessage("ignored a provider line: a reason on a status that is not down"));

    connection->stopVPNTunnel(); // its pushes of 5 and then 1 carry the reason too
    ASSERT_TRUE(reaches(disconnected));
    ASSERT_TRUE(eventually([&] { return providers() == 0; }));
    EXPECT_EQ(connection->lastDisconnectReason(), "服务器关闭了连接");
    EXPECT_TRUE(log.hasSystemMessage("the provider says why it is down: 服务器关闭了连接"));

    // A start forgets it at once, even while the provider that gave it is still there.
    play("says-down");
    start();
    ASSERT_TRUE(queue->runUntil([&] { return connection->lastDisconnectReason().has_value(); }));
    home.setVariable("ORVANE_SCRIPTED_REASON", std::nullopt);
    play("good");
    start();
    EXPECT_EQ(connection->lastDisconnectReason(), std::nullopt);
    EXPECT_TRUE(reaches(connected));
}
