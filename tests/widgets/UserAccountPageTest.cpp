#include "ConsoleFixture.h"

#include "console/ConsolePageContainer.h"
#include "console/ConsoleTitleBar.h"
#include "pages/UserAccountPage.h"
#include "platform/Bundle.h"
#include "tunnel/LoginServiceKit.h"

#include "RecordingBrowser.h"
#include "RecordingPageHost.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <ctime>
#include <regex>

using Platform::PropertyValue;

namespace {

// An expiry the given number of days from now, in the service's format.
std::string expiryInDays(int days)
{
    const std::time_t when = std::time(nullptr) + std::time_t(days) * 24 * 3600;
    std::tm utc{};
    ::gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

class UserAccountPageTest : public testing::Test
{
protected:
    UserAccountPage &page()
    {
        if (!m_page) {
            m_page = std::make_unique<UserAccountPage>();
            m_page->resize(920, 452);
            m_page->setSuperVC(&host);
            m_page->buildPage();
        }
        return *m_page;
    }

    void store(const PropertyValue &record)
    {
        defaults.set(UserDefaultsCacheKeys::userInfo, record);
        page().refreshAccount();
    }

    std::string expiryText() { return page().exprietimeBtn()->text().toStdString(); }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    UserDefaults defaults = UserDefaults::standard();
    RecordingPageHost host;

private:
    std::unique_ptr<UserAccountPage> m_page;
};

void expectSignedOut(UserAccountPage &page)
{
    EXPECT_EQ(page.accountLabel()->text(), QStringLiteral("ID：----"));
    EXPECT_EQ(page.userLabel()->text(), QStringLiteral("---@---"));
    EXPECT_EQ(page.userLabel()->textFormat(), Qt::PlainText); // names come from the service
    EXPECT_EQ(page.exprietimeBtn()->text(), QStringLiteral("SVIP：----天"));
    EXPECT_EQ(page.expiretimeLabel()->text(), QStringLiteral("到期时间：xxxx-xx-xx"));
    EXPECT_EQ(page.mergeBtn()->text(), QStringLiteral("剩余流量：---.-- GB"));
    EXPECT_EQ(page.badgeImage(), QStringLiteral("page_4_v_free_over@2x.png"));
}

} // namespace

TEST(UserAccountBadge, DependsOnDaysLeftAndLevel)
{
    const auto badge = [](int days, int level) {
        return UserAccountPage::badgeImageName(days, level).value_or(QStringLiteral("unchanged"));
    };
    EXPECT_EQ(badge(-1, 0), QStringLiteral("page_4_v_free_over@2x.png"));
    EXPECT_EQ(badge(-30, -2), QStringLiteral("page_4_v_free_over@2x.png"));
    EXPECT_EQ(badge(-1, 1), QStringLiteral("page_4_v_vip_over@2x.png"));
    EXPECT_EQ(badge(-1, 2), QStringLiteral("page_4_v_vip_over@2x.png"));
    EXPECT_EQ(badge(0, 0), QStringLiteral("page_4_v_free@2x.png"));
    EXPECT_EQ(badge(0, 1), QStringLiteral("page_4_v_vip@2x.png"));
    EXPECT_EQ(badge(365, 2), QStringLiteral("page_4_v_svip@2x.png"));
    EXPECT_EQ(badge(5, 3), QStringLiteral("unchanged"));
    EXPECT_EQ(badge(5, -1), QStringLiteral("unchanged"));
}

TEST_F(UserAccountPageTest, SignedOutShowsThePlaceholders)
{
    defaults.set(UserDefaultsCacheKeys::lastAmount, "10.0 G"); // a leftover, not shown
    expectSignedOut(page());
    EXPECT_EQ(page().toolbarTitleLabel()->text(), QStringLiteral("基本信息"));
    EXPECT_FALSE(page().autologinButton()->isChecked());

    // A record that is no dictionary is no record.
    store({{"id", 7}});
    EXPECT_EQ(page().accountLabel()->text(), QStringLiteral("ID：7"));
    store(PropertyValue::array({1, 2}));
    expectSignedOut(page());
    store("demo@orvane.test");
    expectSignedOut(page());
}

TEST_F(UserAccountPageTest, ShowsTheRecordWithDayCountsAndBadges)
{
    defaults.set(UserDefaultsCacheKeys::lastAmount, "10.0 G");
    store({{"id", 1001},
           {"user_name", "demo@orvane.test"},
           {"member_level", 1},
           {"member_expiry_at", expiryInDays(-1)}});
    EXPECT_EQ(page().accountLabel()->text(), QStringLiteral("ID：1001"));
    EXPECT_EQ(page().userLabel()->text(), QStringLiteral("demo@orvane.test"));
    EXPECT_EQ(expiryText(), "SVIP：-1天");
    EXPECT_EQ(page().badgeImage(), QStringLiteral("page_4_v_vip_over@2x.png"));
    EXPECT_TRUE(std::regex_match(page().expiretimeLabel()->text().toStdString(),
                                 std::regex("到期时间：\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")))
        << page().expiretimeLabel()->text().toStdString();
    EXPECT_EQ(page().mergeBtn()->text(), QStringLiteral("剩余流量：10.0 G"));

    store({{"member_level", 1}, {"member_expiry_at", expiryInDays(0)}});
    EXPECT_EQ(expiryText(), "SVIP：0天");
    EXPECT_EQ(page().badgeImage(), QStringLiteral("page_4_v_vip@2x.png"));
    // Entries that are missing leave what was shown.
    EXPECT_EQ(page().accountLabel()->text(), QStringLiteral("ID：1001"));
    EXPECT_EQ(page().userLabel()->text(), QStringLiteral("demo@orvane.test"));

    // Level 3 is not in the table: the badge stays. A level of another type counts as free.
    store({{"member_level", 3}, {"member_expiry_at", expiryInDays(30)}});
    EXPECT_EQ(expiryText(), "SVIP：30天");
    EXPECT_EQ(page().badgeImage(), QStringLiteral("page_4_v_vip@2x.png"));
    store({{"member_level", "2"}, {"member_expiry_at", expiryInDays(-3)}});
    EXPECT_EQ(page().badgeImage(), QStringLiteral("page_4_v_free_over@2x.png"));

    // An expiry that cannot be read says so and keeps the badge.
    store({{"member_level", 2}, {"member_expiry_at", "next spring"}});
    EXPECT_EQ(expiryText(), "SVIP：----天");
    EXPECT_EQ(page().expiretimeLabel()->text(), QStringLiteral("到期时间：xxxx-xx-xx"));
    EXPECT_EQ(page().badgeImage(), QStringLiteral("page_4_v_free_over@2x.png"));
}

TEST_F(UserAccountPageTest, SwitchesTakeEffectAsTheirButtonsSay)
{
    const std::string bundle = Platform::Bundle::main().bundlePath().string();
    ASSERT_FALSE(LoginServiceKit::isLoginItem(bundle));
    EXPECT_FALSE(page().autolaunchButton()->isChecked());

    // Automatic sign-in at once.
    page().autologinButton()->click();
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastAutoLogin), "true");
    page().autologinButton()->click();
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::lastAutoLogin).has_value());

    // Launch at login only when saved.
    page().autolaunchButton()->click();
    EXPECT_FALSE(LoginServiceKit::isLoginItem(bundle));
    page().onTapButtonWithSender(UserAccountPage::saveSettingsTag);
    EXPECT_TRUE(LoginServiceKit::isLoginItem(bundle));
    UserAccountPage another;
    another.resize(920, 452);
    another.buildPage();
    EXPECT_TRUE(another.autolaunchButton()->isChecked());
    page().autolaunchButton()->click();
    EXPECT_TRUE(LoginServiceKit::isLoginItem(bundle));
    page().onTapButtonWithSender(UserAccountPage::saveSettingsTag);
    EXPECT_FALSE(LoginServiceKit::isLoginItem(bundle));
}

TEST_F(UserAccountPageTest, RenewAndTheLinksOpenTheBrowser)
{
    RecordingBrowser browser(home);
    home.setVariable("ORVANE_PAYMENT_ORIGIN", "https://pay.orvane.test");
    home.setVariable("ORVANE_OFFICIAL_SITE_ORIGIN", "http://www.orvane.test");
    const auto opened = [&](std::size_t count) {
        EXPECT_TRUE(queue->runUntil([&] { return browser.calls().size() >= count; }));
        return browser.calls().back();
    };

    page().onTapButtonWithSender(UserAccountPage::renewTag);
    EXPECT_EQ(opened(1), "1|https://pay.orvane.test/webpay/#/");

    defaults.set(UserDefaultsCacheKeys::apiToken, "tok+en/=");
    const auto before = std::time(nullptr);
    page().onTapButtonWithSender(UserAccountPage::renewTag);
    std::smatch match;
    const std::string withToken = opened(2);
    ASSERT_TRUE(std::regex_match(
        withToken,
        match,
        std::regex(R"(1\|https://pay\.orvane\.test/webpay/#/\?token=tok%2Ben%2F%3D&time=(\d+))")))
        << withToken;
    const long long milliseconds = std::stoll(match[1]);
    EXPECT_GE(milliseconds / 1000, before);
    EXPECT_LE(milliseconds / 1000, std::time(nullptr));

    UserAccountPage page;
    page.resize(920, 452);
    page.buildPage();
    QPushButton *site = nullptr;
    for (QPushButton *button : page.findChildren<QPushButton *>()) {
        if (button->property("tag").toInt() == UserAccountPage::officialSiteTag)
            site = button;
    }
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->text(), QStringLiteral("官方网站：www.orvane.test"));
    for (int tag : {UserAccountPage::questionsTag,
                    UserAccountPage::aboutTag,
                    UserAccountPage::officialSiteTag}) {
        const std::size_t count = browser.calls().size() + 1;
        page.onTapButtonWithSender(tag);
        EXPECT_EQ(opened(count), "1|http://www.orvane.test");
    }
}

TEST_F(UserAccountPageTest, SigningOutClearsTheSessionButKeepsTheNodeNames)
{
    defaults.set(UserDefaultsCacheKeys::apiToken, "token");
    defaults.set(UserDefaultsCacheKeys::subNodes, std::vector<std::string>{"日本"});
    defaults.set(UserDefaultsCacheKeys::allNodes, std::vector<std::string>{"日本", "香港"});
    defaults.set(UserDefaultsCacheKeys::lastAmount, "1.5 G");
    defaults.set(UserDefaultsCacheKeys::lastAutoLogin, "true");
    store({{"id", 5}, {"user_name", "demo@orvane.test"}});
    EXPECT_TRUE(page().autologinButton()->isChecked());

    page().onTapButtonWithSender(UserAccountPage::signOutTag);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.refreshes, std::vector<bool>{true});
    expectSignedOut(page());
    for (const char *key : {UserDefaultsCacheKeys::apiToken,
                            UserDefaultsCacheKeys::userInfo,
                            UserDefaultsCacheKeys::subNodes,
                            UserDefaultsCacheKeys::lastAmount})
        EXPECT_FALSE(defaults.value(key).has_value()) << key;
    EXPECT_EQ(defaults.value(UserDefaultsCacheKeys::allNodes),
              PropertyValue(std::vector<std::string>{"日本", "香港"}));

    // Signed out already: it says so, and still clears and refreshes.
    defaults.set(UserDefaultsCacheKeys::apiToken, "stray");
    page().onTapButtonWithSender(UserAccountPage::signOutTag);
    EXPECT_EQ(host.messages, std::vector<std::string>{"您尚未登录!"});
    EXPECT_EQ(host.refreshes, (std::vector<bool>{true, true}));
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::apiToken).has_value());
}

TEST_F(ConsoleFixture, TheAccountPageIsInstalledOnceAndFollowsTheUser)
{
    signIn();
    press(ConsoleTag::userTab);
    UserAccountPage *page = console().userPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->geometry(), QRect(0, 128, 920, 452));
    EXPECT_EQ(page->userLabel()->text(), QStringLiteral("demo@orvane.test"));
    // The reloaded record (with its id) reaches the page.
    ASSERT_TRUE(pumpUntil(*queue, [&] { return page->accountLabel()->text() != "ID：----"; }));
    EXPECT_EQ(page->badgeImage(), QStringLiteral("page_4_v_vip@2x.png"));

    backend.admin("POST", "/_dev/users", {{"email", "demo@orvane.test"}, {"expiry_days", -2}});
    press(ConsoleTag::toolbarHome);
    press(ConsoleTag::toolbarUser);
    EXPECT_EQ(console().userPage(), page);
    EXPECT_EQ(console().otherWorkView()->findChildren<UserAccountPage *>().size(), 1);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return page->badgeImage().contains("over"); }));
    EXPECT_EQ(page->exprietimeBtn()->text(), QStringLiteral("SVIP：-2天"));
}

TEST_F(ConsoleFixture, SigningOutOnTheAccountPageStopsTheTunnel)
{
    signIn();
    press(ConsoleTag::userTab);
    report(3);
    ASSERT_EQ(connection()->stops, 0);
    console().userPage()->onTapButtonWithSender(UserAccountPage::signOutTag);
    queue->runUntilIdle();
    EXPECT_EQ(connection()->stops, 1);
    EXPECT_TRUE(console().titleBar()->loginButton()->isVisibleTo(&console()));
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::userInfo).has_value());
}
