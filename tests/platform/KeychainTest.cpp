#include "platform/Keychain.h"

#include "ChildProcess.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>

using namespace std::chrono_literals;

namespace {

std::string uniqueAccount(const std::string &prefix)
{
    std::random_device random;
    return prefix + "." + std::to_string(random()) + std::to_string(random());
}

// scripts/test runs the tests inside a session bus with an unlocked keyring and says so.
bool keyringProvided()
{
    const char *flag = std::getenv("ORVANE_TEST_KEYRING");
    return flag && std::string(flag) == "1";
}

// Runs the shell script in a session bus of its own; "$0" is the test helper program.
std::string runInSession(const std::string &script,
                         const std::vector<ChildProcess::Variable> &environment = {},
                         const std::vector<std::string> &busOptions = {})
{
    std::vector<std::string> arguments{"dbus-run-session"};
    arguments.insert(arguments.end(), busOptions.begin(), busOptions.end());
    arguments.insert(arguments.end(), {"--", "sh", "-c", script, testChildProgram()});
    ChildProcess session(arguments, environment);
    // Generous: the calls give up after two seconds each, a session starts in well under one.
    const auto status = session.finish(30s);
    EXPECT_TRUE(status.has_value()) << "the session hung: " << session.output();
    return session.output();
}

constexpr const char unlockKeyring[]
    = "echo -n ci | gnome-keyring-daemon --unlock --components=secrets >/dev/null; ";

// Says "prompted" when a password prompter joined the bus during the session.
constexpr const char reportPrompter[]
    = "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
      "org.freedesktop.DBus.ListNames | grep -q Prompter && echo prompted; ";

// A display of our own, on which a bus could be launched.
class Display
{
public:
    Display()
        : m_server({"Xvfb", "-displayfd", "1", "-screen", "0", "320x200x24", "-nolisten", "tcp"})
    {
        const auto number = m_server.readLine(20s);
        if (number)
            m_name = ":" + *number;
    }
    const std::string &name() const { return m_name; }

private:
    ChildProcess m_server;
    std::string m_name;
};

} // namespace

TEST(Keychain, RoundTripInTheTestSession)
{
    if (!keyringProvided())
        GTEST_SKIP() << "needs the unlocked keyring that scripts/test provides";
    const std::string account = uniqueAccount("roundtrip");

    EXPECT_FALSE(Platform::Keychain::findGenericPassword(account));
    EXPECT_TRUE(Platform::Keychain::addGenericPassword(account, std::string("v\0one", 5)));
    EXPECT_EQ(Platform::Keychain::findGenericPassword(account), std::string("v\0one", 5));

    // An existing item is never replaced.
    EXPECT_FALSE(Platform::Keychain::addGenericPassword(account, "two"));
    EXPECT_EQ(Platform::Keychain::findGenericPassword(account), std::string("v\0one", 5));
}

TEST(Keychain, ItemsPersistAcrossProcessesOfAnUnlockedKeyring)
{
    TemporaryHome home;
    const std::string output = runInSession(std::string(unlockKeyring)
                                            + "\"$0\" keychain-add device \"macOS-ABC\"; "
                                              "\"$0\" keychain-add device other; "
                                              "\"$0\" keychain-find device; "
                                              "\"$0\" keychain-find nobody");
    EXPECT_EQ(output, "added\nrefused\nfound:macOS-ABC\nabsent\n");
}

TEST(Keychain, WithoutASessionBusFailsAtOnceAndStartsNoBus)
{
    TemporaryHome home;
    Display display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";

    ChildProcess probe({"sh",
                        "-c",
                        "\"$0\" keychain-add a b; \"$0\" keychain-find a",
                        testChildProgram()},
                       {{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"DISPLAY", display.name()}});
    ASSERT_TRUE(probe.finish(30s));
    EXPECT_EQ(probe.output(), "refused\nabsent\n");
    // A bus launched for the display leaves its address under ~/.dbus/session-bus.
    EXPECT_FALSE(std::filesystem::exists(home.root() / ".dbus"))
        << "a session bus was launched on the display";
}

TEST(Keychain, ABusWithoutSecretServiceMeansAbsence)
{
    TemporaryHome home;
    const auto config = home.root() / "bus.conf";
    std::ofstream(config)
        << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    const std::string output = runInSession("\"$0\" keychain-add a b; \"$0\" keychain-find a",
                                            {},
                                            {"--config-file=" + config.string()});
    EXPECT_EQ(output, "refused\nabsent\n");
}

TEST(Keychain, LockedOrMissingKeyringOnADisplayNeverPrompts)
{
    TemporaryHome home;
    Display display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    const std::vector<ChildProcess::Variable> onDisplay{{"DISPLAY", display.name()}};

    // No keyring at all: the service starts on demand, and storing would ask to create one.
    EXPECT_EQ(runInSession("\"$0\" keychain-add a b; \"$0\" keychain-find a; "
                               + std::string(reportPrompter),
                           onDisplay),
              "refused\nabsent\n");

    // A keyring that exists but is locked: unlocking would ask for its password.
    EXPECT_EQ(runInSession(std::string(unlockKeyring) + "\"$0\" keychain-add a b"), "added\n");
    EXPECT_EQ(runInSession("gnome-keyring-daemon --start --components=secrets >/dev/null; "
                           "\"$0\" keychain-add c d; \"$0\" keychain-find a; "
                               + std::string(reportPrompter),
                           onDisplay),
              "refused\nabsent\n");
}

TEST(Keychain, AServiceThatStopsAnsweringIsGivenUpOn)
{
    TemporaryHome home;
    // Freeze the keyring daemon after one good round trip; the next calls must still return.
    const std::string output = runInSession(
        std::string(unlockKeyring)
        + "\"$0\" keychain-add a b; "
          "pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus "
          "/org/freedesktop/DBus "
          "org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets "
          "| awk '/uint32/ {print $2}'); "
          "kill -STOP \"$pid\"; "
          "\"$0\" keychain-find a; \"$0\" keychain-add c d; "
          "kill -CONT \"$pid\"");
    EXPECT_EQ(output, "added\nabsent\nrefused\n");
}
