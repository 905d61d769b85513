#include "ConsoleFixture.h"

#include "console/ConsoleTitleBar.h"
#include "pages/LkTextField.h"
#include "pages/LoginAlertView.h"
#include "pages/RotatedPicture.h"
#include "pages/UserAccountPage.h"

#include "LoopbackServer.h"
#include "RecordingPageHost.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

class LoginPanelTest : public testing::Test
{
protected:
    LoginPanelTest()
    {
        useBaseUrls(backend.origin(), backend.origin(), backend.origin());
        backend.takeRequests();
    }

    void useBaseUrls(const std::string &first, const std::string &second, const std::string &third)
    {
        home.setVariable("ORVANE_API_BASE_URLS", first + " " + second + " " + third);
    }

    // A panel as the console makes it; its results are kept in results.
    LoginAlertView &panel()
    {
        if (!m_panel) {
            m_panel = std::make_unique<LoginAlertView>();
            m_panel->setSuperVC(&host);
            m_panel->buildPanel();
            m_panel->valuebackBlock = [this](const std::string &result) {
                results.push_back(result);
            };
            queue->runUntilIdle();
        }
        return *m_panel;
    }

    void fill(const QString &account, const QString &password, const QString &code = {})
    {
        panel().accountField()->setText(account);
        panel().passwordField()->setText(password);
        panel().yzmField()->setText(code);
    }

    void tap(int tag)
    {
        panel().onTapButtonWithSender(tag);
        queue->runUntilIdle();
    }

    // Presses the start button and waits, through its half-second pause, until the flow has
    // come to rest.
    bool startAndSettle()
    {
        tap(LoginAlertView::startTag);
        queue->advance(0.5);
        return pumpUntil(*queue, [&] { return !panel().isLoading(); });
    }

    std::string lastMessage() const
    {
        return host.messages.empty() ? std::string() : host.messages.back();
    }

    std::vector<nlohmann::json> requestsTo(const std::string &path)
    {
        std::vector<nlohmann::json> found;
        for (const auto &request : backend.takeRequests()) {
            if (request["path"] == path)
                found.push_back(request);
        }
        return found;
    }

    std::string issuedCode(const std::string &email)
    {
        return backend.admin("GET", "/_dev/codes?email=" + email)["code"];
    }

    bool busyLook() { return panel().spinner()->isVisibleTo(&panel()); }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    RunningBackend backend{home.root() / "backend"};
    UserDefaults defaults = UserDefaults::standard();
    RecordingPageHost host;
    std::vector<std::string> results;

private:
    std::unique_ptr<LoginAlertView> m_panel;
};

} // namespace

TEST_F(LoginPanelTest, ChecksTheFieldsInOrderAndSendsNothingUntilTheyPass)
{
    const auto rejected = [&](const QString &account,
                              const QString &password,
                              const QString &code,
                              const std::string &message) {
        host.messages.clear();
        fill(account, password, code);
        tap(LoginAlertView::startTag);
        EXPECT_EQ(host.messages, std::vector<std::string>{message})
            << account.toStdString() << " / " << password.toStdString();
        EXPECT_FALSE(panel().isLoading());
    };
    // The account is looked at first: an empty one hides a bad password.
    rejected("  ", "", "", "请输入邮箱账号");
    rejected("someone@example.c", "secret1", "", "请输入有效邮箱账号");
    rejected("some one@example.com", "secret1", "", "请输入有效邮箱账号");
    rejected("someone@example.com", " 12345 ", "", "请输入有效的密码");
    // Five characters of three bytes each are still five characters.
    rejected("someone@example.com", QStringLiteral("密码密码密"), "", "请输入有效的密码");

    tap(LoginAlertView::forgetPasswordTag);
    ASSERT_EQ(panel().iUIType(), LoginAlertView::reset);
    rejected("someone@example.com", "secret1", "123", "请输入有效的验证码");
    queue->advance(1);
    queue->runUntilIdle();
    EXPECT_TRUE(backend.takeRequests().empty());

    // Six characters pass, whatever their bytes.
    tap(LoginAlertView::registerTag);
    host.messages.clear();
    fill(QStringLiteral("  demo@orvane.test\n"), QStringLiteral("密码密码密码"));
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(lastMessage(), "登录失败:账号或密码错误");
    const auto sent = requestsTo("/api/public/user/login");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["body"]["user_name"], "demo@orvane.test");
    EXPECT_EQ(sent[0]["body"]["password"], "密码密码密码");
    EXPECT_EQ(sent[0]["body"]["email_code"], "");
}

TEST_F(LoginPanelTest, RemembersThePairBeforeTheRequestAndKeepsItAfterAFailure)
{
    panel().recordCheckButton()->setChecked(true);
    fill(QStringLiteral(" demo@orvane.test "), QStringLiteral("wrongpass"));
    tap(LoginAlertView::startTag);
    // Written at the tap, before anything was sent.
    EXPECT_TRUE(busyLook());
    EXPECT_FALSE(panel().startLoginButton()->isVisibleTo(&panel()));
    EXPECT_EQ(*defaults.value(UserDefaultsCacheKeys::lastAccountIdPw),
              (nlohmann::json{{"accountid", "demo@orvane.test"}, {"accountpw", "wrongpass"}}));
    queue->advance(0.5);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !panel().isLoading(); }));
    EXPECT_EQ(lastMessage(), "登录失败:账号或密码错误");
    EXPECT_FALSE(busyLook());
    EXPECT_TRUE(panel().startLoginButton()->isEnabled());
    EXPECT_EQ(panel().startLoginButton()->text(), QStringLiteral("登 录"));
    EXPECT_TRUE(defaults.value(UserDefaultsCacheKeys::lastAccountIdPw).has_value());
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::apiToken).has_value());
    EXPECT_TRUE(results.empty());

    // A new panel shows what was remembered.
    LoginAlertView again;
    again.buildPanel();
    EXPECT_TRUE(again.recordCheckButton()->isChecked());
    EXPECT_EQ(again.accountField()->text(), QStringLiteral("demo@orvane.test"));
    EXPECT_EQ(again.passwordField()->text(), QStringLiteral("wrongpass"));
    EXPECT_FALSE(again.loginCheckButton()->isChecked());

    // Unticked, the pair goes at the next start.
    panel().recordCheckButton()->setChecked(false);
    tap(LoginAlertView::startTag);
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::lastAccountIdPw).has_value());
    queue->advance(0.5);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !panel().isLoading(); }));
}

TEST_F(LoginPanelTest, ASuccessfulSignInStoresTheUserAndReportsAccount)
{
    panel().loginCheckButton()->click();
    queue->runUntilIdle();
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastAutoLogin), "true");
    fill(QStringLiteral("demo@orvane.test"), QStringLiteral("demo123456"));
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(results, std::vector<std::string>{"Account"});
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(defaults.string(UserDefaultsCacheKeys::apiToken).has_value());
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::userAccount), "demo@orvane.test");
    const auto record = defaults.dictionary(UserDefaultsCacheKeys::userInfo);
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["member_level"], 1);
    EXPECT_TRUE((*record)["invitation_code"].is_string());
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), backend.origin());
    // Passwords stay out of the log.
    for (const auto &line : log.printed())
        EXPECT_EQ(line.find("demo123456"), std::string::npos) << line;

    panel().loginCheckButton()->click();
    queue->runUntilIdle();
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::lastAutoLogin).has_value());
}

TEST_F(LoginPanelTest, TriesEachBuiltInUrlThenGivesUpAndStartsOverNextTime)
{
    std::vector<std::string> tried;
    std::mutex triedMutex;
    HangingUpServer first("0", tried, triedMutex);
    HangingUpServer second("1", tried, triedMutex);
    HangingUpServer third("2", tried, triedMutex);
    useBaseUrls(first.origin(), second.origin(), third.origin());

    fill(QStringLiteral("demo@orvane.test"), QStringLiteral("demo123456"));
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(host.messages, std::vector<std::string>{"服务无法连接，请稍候重试..."});
    EXPECT_FALSE(busyLook());
    EXPECT_EQ(panel().iRetry(), 0);
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::lastOkHost).has_value());
    EXPECT_TRUE(results.empty());
    {
        std::lock_guard lock(triedMutex);
        EXPECT_EQ(tried, (std::vector<std::string>{"0", "1", "2"}));
        tried.clear();
    }

    // The next attempt starts at the first URL again, and a working one is kept.
    useBaseUrls(first.origin(), backend.origin(), third.origin());
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(results, std::vector<std::string>{"Account"});
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), backend.origin());
    std::lock_guard lock(triedMutex);
    EXPECT_EQ(tried, std::vector<std::string>{"0"});
}

TEST_F(LoginPanelTest, TheCodeButtonCountsDownInVirtualTime)
{
    tap(LoginAlertView::registerTag);
    ASSERT_EQ(panel().iUIType(), LoginAlertView::registration);
    EXPECT_EQ(panel().titleField()->text(), QStringLiteral("账号注册"));
    EXPECT_EQ(panel().startLoginButton()->text(), QStringLiteral("注 册"));
    EXPECT_TRUE(panel().yzmView()->isVisibleTo(&panel()));
    EXPECT_FALSE(panel().forgetPwBtn()->isVisibleTo(&panel()));
    fill(QStringLiteral("new@orvane.test"), QString());

    tap(LoginAlertView::codeTag);
    QPushButton *button = panel().yzmButton();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->text(), QStringLiteral("59秒后重发"));
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !host.messages.empty(); }));
    EXPECT_EQ(host.messages, std::vector<std::string>{"已发送，请注意查收"});
    const auto sent = requestsTo("/api/public/code/getEmailCode");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["body"]["email_type"], "EMAIL_TYPE_USER_REGISTER");
    EXPECT_EQ(sent[0]["body"]["target_email"], "new@orvane.test");

    queue->advance(1);
    EXPECT_EQ(button->text(), QStringLiteral("58秒后重发"));
    queue->advance(57);
    EXPECT_EQ(button->text(), QStringLiteral("1秒后重发"));
    EXPECT_FALSE(button->isEnabled());
    queue->advance(1);
    EXPECT_EQ(button->text(), QStringLiteral("获取验证码"));
    EXPECT_TRUE(button->isEnabled());
    queue->advance(5);
    EXPECT_EQ(button->text(), QStringLiteral("获取验证码"));

    // With the code the backend sent, the account is registered.
    fill(QStringLiteral("new@orvane.test"),
         QStringLiteral("secret1"),
         QString::fromStdString(issuedCode("new@orvane.test")));
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(results, std::vector<std::string>{"Register"});
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::userAccount), "new@orvane.test");
    EXPECT_EQ(requestsTo("/api/public/user/register").at(0)["body"]["re_password"], "secret1");
}

TEST_F(LoginPanelTest, AFailedCodeRequestOrACancelEndsTheCountdownAtOnce)
{
    backend.admin("POST",
                  "/_dev/faults",
                  {{"path", "/api/public/code/getEmailCode"},
                   {"kind", "500"},
                   {"delay_ms", 200},
                   {"times", 1}});
    tap(LoginAlertView::forgetPasswordTag);
    fill(QStringLiteral("demo@orvane.test"), QString());
    tap(LoginAlertView::codeTag);
    QPushButton *button = panel().yzmButton();
    EXPECT_FALSE(button->isEnabled());
    ASSERT_TRUE(pumpUntil(*queue, [&] { return button->isEnabled(); }));
    EXPECT_EQ(button->text(), QStringLiteral("获取验证码"));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(lastMessage().starts_with("发送验证码失败:")) << lastMessage();
    queue->advance(3);
    EXPECT_EQ(button->text(), QStringLiteral("获取验证码"));

    // The reset form asks for a reset code; closing the panel mid-count stops it.
    tap(LoginAlertView::codeTag);
    queue->advance(2);
    EXPECT_EQ(button->text(), QStringLiteral("57秒后重发"));
    EXPECT_EQ(requestsTo("/api/public/code/getEmailCode").back()["body"]["email_type"],
              "EMAIL_TYPE_USER_RESETPWD");
    tap(LoginAlertView::closeTag);
    EXPECT_EQ(results, std::vector<std::string>{"Cancel"});
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(button->text(), QStringLiteral("获取验证码"));
    queue->advance(3);
    EXPECT_EQ(button->text(), QStringLiteral("获取验证码"));
}

TEST_F(LoginPanelTest, ResettingThePasswordReturnsToSignIn)
{
    tap(LoginAlertView::forgetPasswordTag);
    EXPECT_EQ(panel().titleField()->text(), QStringLiteral("重置密码"));
    EXPECT_EQ(panel().registerBtn()->text(), QStringLiteral("<返回登录"));
    fill(QStringLiteral("demo@orvane.test"), QString());
    tap(LoginAlertView::codeTag);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !host.messages.empty(); }));
    const QString code = QString::fromStdString(issuedCode("demo@orvane.test"));

    // A wrong code is the server's own words.
    fill(QStringLiteral("demo@orvane.test"), QStringLiteral("newpass1"), QStringLiteral("0000"));
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(lastMessage(), "验证码错误或已过期");
    EXPECT_EQ(panel().iUIType(), LoginAlertView::reset);
    EXPECT_EQ(panel().startLoginButton()->text(), QStringLiteral("确 定"));

    fill(QStringLiteral("demo@orvane.test"), QStringLiteral("newpass1"), code);
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(lastMessage(), "重置成功，请重新登录！");
    EXPECT_EQ(panel().iUIType(), LoginAlertView::signIn);
    EXPECT_EQ(panel().titleField()->text(), QStringLiteral("账号登录"));
    EXPECT_FALSE(panel().yzmView()->isVisibleTo(&panel()));
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::apiToken).has_value());
    EXPECT_EQ(backend.signIn("demo@orvane.test", "newpass1").empty(), false);
}

TEST_F(LoginPanelTest, AReplyWithoutAUserIsNoSuccess)
{
    LoopbackServer server;
    server.server().Post("/api/public/user/login", [](const auto &, httplib::Response &response) {
        response.set_content(R"({"code": 0, "msg": "", "data": {"token": "t-1"}})",
                             "application/json");
    });
    server.start();
    useBaseUrls(server.origin(), server.origin(), server.origin());

    fill(QStringLiteral("demo@orvane.test"), QStringLiteral("demo123456"));
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(host.messages, std::vector<std::string>{"加载用户信息失败，请稍候重试"});
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::userInfo).has_value());
    EXPECT_TRUE(panel().startLoginButton()->isEnabled());
}

TEST_F(LoginPanelTest, TabMovesFromTheAccountToThePassword)
{
    panel().show();
    panel().activateWindow();
    QCoreApplication::processEvents();
    panel().accountField()->setFocus();
    ASSERT_TRUE(panel().accountField()->hasFocus());
    QTest::keyClick(panel().accountField(), Qt::Key_Tab);
    EXPECT_TRUE(panel().passwordField()->hasFocus());
}

TEST_F(ConsoleFixture, TheSignInPanelCoversTheConsoleUntilItReports)
{
    press(ConsoleTag::userTab); // the account page exists, so it is refreshed when the panel closes
    console().showLoginPanel();
    LoginAlertView *panel = console().loginPanel();
    ASSERT_NE(panel, nullptr);
    QWidget *cover = panel->parentWidget();
    EXPECT_EQ(cover->geometry(), console().rect());
    EXPECT_EQ(panel->geometry(), QRect(920 / 2 - 195, 580 / 2 - 210, 390, 420));
    // A second request while it is open makes no second panel.
    console().showLoginPanel();
    EXPECT_EQ(console().findChildren<LoginAlertView *>().size(), 1);

    panel->accountField()->setText(QStringLiteral("demo@orvane.test"));
    panel->passwordField()->setText(QStringLiteral("demo123456"));
    panel->onTapButtonWithSender(LoginAlertView::startTag);
    queue->advance(0.5);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return console().loginPanel() == nullptr; }));
    EXPECT_EQ(lastToast(), "登录成功！");
    EXPECT_TRUE(console().titleBar()->accountBack()->isVisibleTo(&console()));
    EXPECT_EQ(console().userPage()->userLabel()->text(), QStringLiteral("demo@orvane.test"));
    // The new user's traffic and subscription follow.
    ASSERT_TRUE(pumpUntil(*queue, [&] {
        return defaults.value(UserDefaultsCacheKeys::subNodes).has_value();
    }));
    EXPECT_EQ(console().userPage()->mergeBtn()->text(), QStringLiteral("剩余流量：100.0 G"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(console().findChildren<LoginAlertView *>().isEmpty());

    // Closed with its close button, the panel reports nothing to show.
    console().showLoginPanel();
    console().loginPanel()->onTapButtonWithSender(LoginAlertView::closeTag);
    queue->runUntilIdle();
    EXPECT_EQ(console().loginPanel(), nullptr);
    EXPECT_EQ(lastToast(), "登录成功！");
}
