#include "ConsoleFixture.h"

#include "console/ConsolePageContainer.h"
#include "console/ConsoleTitleBar.h"
#include "pages/RotatedPicture.h"

#include <QLabel>
#include <QPushButton>

namespace {

class DataLoadingTest : public ConsoleFixture
{
protected:
    std::vector<std::string> pathsAsked()
    {
        std::vector<std::string> paths;
        for (const auto &request : backend.takeRequests())
            paths.push_back(request["path"]);
        return paths;
    }
};

} // namespace

TEST_F(DataLoadingTest, FirstAppearanceWithoutATokenAsksOnlyForPublicThings)
{
    console().show();
    EXPECT_TRUE(console().isLoadedView());
    ASSERT_TRUE(pumpUntil(*queue, [&] {
        return defaults.value(UserDefaultsCacheKeys::allNodes).has_value();
    }));
    EXPECT_EQ(pathsAsked(),
              (std::vector<std::string>{KvApi::publicSettingPath, KvApi::nodeNamesPath}));

    // Shown again, the console does not load again.
    console().hide();
    console().show();
    queue->runUntil([] { return false; }, 0.1);
    EXPECT_TRUE(pathsAsked().empty());
    EXPECT_TRUE(console().titleBar()->loginButton()->isVisibleTo(&console()));
}

TEST_F(DataLoadingTest, FirstAppearanceWithATokenLoadsTheUserTheServiceAndTheNodes)
{
    defaults.set(UserDefaultsCacheKeys::apiToken, backend.signIn("demo@orvane.test", "demo123456"));
    backend.takeRequests();
    console().show();
    ASSERT_TRUE(pumpUntil(*queue, [&] {
        return defaults.value(UserDefaultsCacheKeys::subNodes).has_value()
               && defaults.value(UserDefaultsCacheKeys::allNodes).has_value();
    }));
    // Two chains run side by side, so only the order within each is fixed: the public settings
    // and then the node names; the user, the service and then the subscription's nodes.
    const auto paths = pathsAsked();
    const auto firstAt = [&](const std::string &prefix) {
        return std::find_if(paths.begin(),
                            paths.end(),
                            [&](const std::string &path) { return path.starts_with(prefix); })
               - paths.begin();
    };
    const auto subscription = firstAt("/api/customer/customerService/getSubscribeNodeList");
    ASSERT_LT(subscription, std::ssize(paths));
    EXPECT_LT(firstAt(KvApi::publicSettingPath), firstAt(KvApi::nodeNamesPath));
    EXPECT_LT(firstAt(KvApi::nodeNamesPath), std::ssize(paths));
    EXPECT_LT(firstAt(KvApi::userInfoPath), firstAt(KvApi::serviceListPath));
    EXPECT_LT(firstAt(KvApi::serviceListPath), subscription);
    // The user's record is shown in the title bar, the traffic beside it.
    ConsoleTitleBar *bar = console().titleBar();
    EXPECT_EQ(bar->accountButton()->text(), QStringLiteral("demo@orvane.test"));
    EXPECT_EQ(bar->mergeButton()->text(), QStringLiteral("100.0 G"));
    EXPECT_TRUE(bar->accountBack()->isVisibleTo(&console()));
    EXPECT_FALSE(bar->loginButton()->isVisibleTo(&console()));
    // The provider was greeted before the first appearance.
    EXPECT_TRUE(lastToast().empty());
}

TEST_F(DataLoadingTest, AnExpiredSignInReturnsTheTitleBarToSignedOut)
{
    signIn();
    console().refreshAccountInfo(false);
    ConsoleTitleBar *bar = console().titleBar();
    EXPECT_FALSE(bar->loginButton()->isVisibleTo(&console()));

    backend.admin("POST", "/_dev/expire-token", {{"email", "demo@orvane.test"}});
    press(ConsoleTag::routeTab);    // leave home for the route page
    press(ConsoleTag::toolbarHome); // and come back: the home return reloads the user
    ASSERT_TRUE(pumpUntil(*queue, [&] { return bar->loginButton()->isVisibleTo(&console()); }));
    EXPECT_FALSE(bar->accountBack()->isVisibleTo(&console()));
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::userInfo));
    EXPECT_TRUE(lastToast().starts_with("[40101]")) << lastToast();
    EXPECT_EQ(bar->tips()->animationKey(), QStringLiteral("tips.roate"));
}

TEST_F(DataLoadingTest, TheDaysLeftFollowTheExpiry)
{
    home.setVariable("TZ", "Asia/Shanghai");
    ::tzset();
    const auto daysFor = [&](const std::string &expiry) {
        defaults.set(UserDefaultsCacheKeys::userInfo, {{"member_expiry_at", expiry}});
        console().refreshAccountInfo(false);
        return console().titleBar()->expireButton()->text();
    };
    const auto now = Platform::DateFormat::now();
    const auto day = std::chrono::hours(24);
    const auto stamp = [](auto time) {
        return NetWorkTool::formatDate(time, "yyyy-MM-dd'T'HH:mm:ssXXX");
    };
    EXPECT_EQ(daysFor(stamp(now + day)), QStringLiteral("1天"));
    EXPECT_EQ(daysFor(stamp(now)), QStringLiteral("0天"));
    EXPECT_EQ(daysFor(stamp(now - 3 * day)), QStringLiteral("-3天"));
    EXPECT_EQ(daysFor("not a time"), QStringLiteral("---天"));
}

// The title bar shows what the account signed in now has, or the empty form.
TEST_F(DataLoadingTest, TheTitleBarShowsTheCurrentAccountOnly)
{
    defaults.set(UserDefaultsCacheKeys::lastAmount, "100.0 G");
    defaults.set(UserDefaultsCacheKeys::userInfo,
                 {{"user_name", "a@b.cn"}, {"member_expiry_at", "2099-01-01T00:00:00+08:00"}});
    console().refreshAccountInfo(false);
    ConsoleTitleBar *bar = console().titleBar();
    EXPECT_EQ(bar->mergeButton()->text(), QStringLiteral("100.0 G"));
    EXPECT_NE(bar->expireButton()->text(), QStringLiteral("---天"));

    NetWorkTool::clearSession();
    defaults.set(UserDefaultsCacheKeys::userInfo, {{"user_name", "c@d.cn"}});
    console().refreshAccountInfo(false);
    EXPECT_EQ(bar->mergeButton()->text(), QStringLiteral("---.--"));
    EXPECT_EQ(bar->expireButton()->text(), QStringLiteral("---天"));
}
