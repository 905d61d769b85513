#include "QtPump.h"

#include "shell/MainViewController.h"
#include "shell/PrivilegedScriptRunner.h"
#include "shell/SingleInstance.h"

#include "platform/Bundle.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <QMessageBox>

#include <fstream>

#include <sys/stat.h>

namespace {

// A stand-in for pkexec: runs the command it is given, or refuses as a dismissed prompt does.
std::string standInElevator(const TemporaryHome &home, bool dismissed)
{
    const auto path = home.root() / (dismissed ? "dismissing-pkexec" : "pkexec");
    std::ofstream(path) << (dismissed ? "#!/bin/sh\nexit 126\n" : "#!/bin/sh\nexec \"$@\"\n");
    ::chmod(path.c_str(), 0755);
    return path.string();
}

} // namespace

TEST(MainViewController, RunsTheInstallerScriptAndReportsInAlerts)
{
    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    std::filesystem::create_directories(home.root() / "X.app/Contents/Resources");
    std::ofstream(home.root() / "X.app/Contents/Info.json") << "{}";
    // A path with spaces and quotes reaches the script as one argument, untouched.
    const auto script = home.root() / "X.app/Contents/Resources/install_test.sh";
    std::ofstream(script) << "echo \"installed as $(id -un)\"\n";
    const Platform::Bundle bundle(home.root() / "X.app");

    PrivilegedScriptRunner runner(standInElevator(home, false));
    MainViewController view(bundle, runner);
    std::optional<std::pair<bool, std::optional<std::string>>> outcome;
    view.runShellScript({"bash", "-c", "echo \"$0\"", "a \"quoted\" name"},
                        true,
                        [&](bool ok, const auto &output) {
                            outcome = {ok, output};
                        });
    ASSERT_TRUE(pumpUntil(*queue, [&] { return outcome.has_value(); }));
    EXPECT_TRUE(outcome->first);
    EXPECT_EQ(outcome->second, "a \"quoted\" name\n");
    ASSERT_TRUE(view.alert());
    EXPECT_EQ(view.alert()->text(), QStringLiteral("Success!"));

    view.tapButton();
    ASSERT_TRUE(pumpUntil(*queue, [&] {
        const auto lines = log.systemMessages();
        return !lines.empty() && lines.back().starts_with("true,installed as ");
    }));

    PrivilegedScriptRunner dismissing(standInElevator(home, true));
    MainViewController refused(bundle, dismissing);
    outcome.reset();
    refused.runShellScript({"bash", script.string()}, true, [&](bool ok, const auto &output) {
        outcome = {ok, output};
    });
    ASSERT_TRUE(pumpUntil(*queue, [&] { return outcome.has_value(); }));
    EXPECT_FALSE(outcome->first);
    EXPECT_FALSE(outcome->second);
    EXPECT_EQ(refused.alert()->text(), QStringLiteral("已取消授权"));
    EXPECT_EQ(log.printed().back(), "已取消授权");

    PrivilegedScriptRunner missing((home.root() / "no-such-pkexec").string());
    MainViewController unable(bundle, missing);
    outcome.reset();
    unable.runShellScript({"true"}, true, [&](bool ok, const auto &output) {
        outcome = {ok, output};
    });
    ASSERT_TRUE(pumpUntil(*queue, [&] { return outcome.has_value(); }));
    EXPECT_FALSE(outcome->first);
    EXPECT_TRUE(unable.alert()->text().startsWith(QStringLiteral("无法启动")));
}

TEST(SingleInstance, ASecondLaunchReopensTheFirst)
{
    TemporaryHome home;
    InstalledManualQueue queue;
    const QString socket = QString::fromStdString((home.runtimeDirectory() / "app.sock").string());

    SingleInstance first(socket);
    EXPECT_FALSE(first.askRunningInstanceToReopen()); // nobody runs yet
    int reopened = 0;
    ASSERT_TRUE(first.listen([&] { ++reopened; }));

    // The second launch waits for the first to take the request; here both share a thread, so
    // the first answers from a helper thread's point of view.
    std::atomic<bool> answered = false;
    std::thread second([&] {
        SingleInstance launch(socket);
        answered = launch.askRunningInstanceToReopen();
    });
    ASSERT_TRUE(pumpUntil(*queue, [&] { return reopened == 1; }));
    second.join();
    EXPECT_TRUE(answered);
}
