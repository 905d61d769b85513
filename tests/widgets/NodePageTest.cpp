#include "ConsoleFixture.h"

#include "console/ConsolePageContainer.h"
#include "pages/ImageLibrary.h"
#include "pages/ImageRadioButton.h"
#include "pages/NodePageView.h"

#include "LoopbackServer.h"

#include <QAccessible>
#include <QLabel>
#include <QTest>

using Platform::PropertyValue;

namespace {

using Report = std::pair<std::optional<std::string>, std::optional<std::string>>;

std::vector<std::string> numbered(const std::string &country, int count)
{
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i)
        names.push_back(country + " " + std::to_string(i));
    return names;
}

class NodePageTest : public testing::Test
{
protected:
    NodePageTest() { home.setVariable("ORVANE_API_BASE_URLS", backend.origin()); }

    // The page as the console builds it, its reports kept in reports.
    NodePageView &page()
    {
        if (!m_page) {
            m_page = std::make_unique<NodePageView>();
            m_page->resize(920, 452);
            m_page->buildPage();
            m_page->nodeStateChangeBlock = [this](const auto &name, const auto &message) {
                reports.emplace_back(name, message);
            };
        }
        return *m_page;
    }

    void choose(const std::string &node)
    {
        QaroShared::shared().setValue(QaroShared::nodeNameKey, node);
    }

    void cacheNames(const std::vector<std::string> &names)
    {
        defaults.set(UserDefaultsCacheKeys::allNodes, names);
    }

    std::vector<std::string> shownNames()
    {
        std::vector<std::string> names;
        for (ImageRadioButton *item : page().myNodeItmes()) {
            if (!item->isHidden())
                names.push_back(item->title().toStdString());
        }
        return names;
    }

    int count(bool (ImageRadioButton::*state)() const)
    {
        const auto &items = page().myNodeItmes();
        return int(std::count_if(items.begin(), items.end(), [&](ImageRadioButton *item) {
            return !item->isHidden() && (item->*state)();
        }));
    }

    ImageRadioButton *item(const std::string &title)
    {
        for (ImageRadioButton *each : page().myNodeItmes()) {
            if (each->title().toStdString() == title)
                return each;
        }
        return nullptr;
    }

    // Signs the demo account in and lets the page's list requests reach the backend.
    void signInForLists()
    {
        defaults.set(UserDefaultsCacheKeys::apiToken,
                     backend.signIn("demo@orvane.test", "demo123456"));
        defaults.set(UserDefaultsCacheKeys::lastOkHost, backend.origin());
        defaults.set(UserDefaultsCacheKeys::serverId, 1001);
        backend.takeRequests();
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    RunningBackend backend{home.root() / "backend"};
    UserDefaults defaults = UserDefaults::standard();
    std::vector<Report> reports;

private:
    std::unique_ptr<NodePageView> m_page;
};

} // namespace

TEST(NodePageFlags, TheFirstMatchingCountryInTheTableWins)
{
    const std::pair<const char *, const char *> cases[] = {
        {"印度尼西亚 01", "ic_country_yn"},
        {"印度 02", "ic_country_yd"},
        {"印尼 雅加达", "ic_country_yn"},
        {"美国 香港 中转", "ic_country_hongkong"}, // 香港 comes before 美国
        {"巴西 圣保罗", "ic_country_bx"},
        {"意大利", "ic_countryic_ydl"},
        {"台湾 02", "ic_country_taiwan"},
        {"Atlantis", "ic_country_auto"},
        {"", "ic_country_auto"},
    };
    for (const auto &[name, image] : cases)
        EXPECT_EQ(NodePageView::flagImageName(name), QLatin1String(image)) << name;

    // Every flag the table names is drawn.
    for (const char *country :
         {"巴西",   "香港",   "德国",     "俄罗斯",     "法国",   "韩国",   "美国",
          "墨西哥", "日本",   "新加坡",   "印度尼西亚", "印度",   "英国",   "巴基斯坦",
          "迪拜",   "菲律宾", "马来西亚", "泰国",       "西班牙", "意大利", "台湾"}) {
        const QString image = NodePageView::flagImageName(country);
        EXPECT_TRUE(ImageLibrary::contains(image)) << image.toStdString();
        EXPECT_FALSE(ImageLibrary::pixmap(image).isNull()) << image.toStdString();
    }
    EXPECT_TRUE(ImageLibrary::contains(QStringLiteral("ic_country_lock")));
}

TEST_F(NodePageTest, WithNothingCachedTheTenFallbackNodesShowFree)
{
    choose("ZiDedadu");
    EXPECT_EQ(page().toolbarTitleLabel()->text(), QStringLiteral("自动适配最佳线路"));
    EXPECT_EQ(shownNames(),
              (std::vector<std::string>{"香港",
                                        "日本",
                                        "美国",
                                        "新加坡",
                                        "德国",
                                        "韩国",
                                        "台湾",
                                        "巴西",
                                        "印度",
                                        "马来西亚"}));
    EXPECT_EQ(page().myNodeItmes().size(), 40u);
    EXPECT_EQ(count(&ImageRadioButton::isLocked), 0);
    EXPECT_EQ(count(&ImageRadioButton::isChecked), 0);
    EXPECT_TRUE(page().autoRouteBtn()->isChecked());
    EXPECT_EQ(page().lastSelectedItem(), page().autoRouteBtn());
    EXPECT_EQ(item("日本")->flagImage(), QStringLiteral("ic_country_japan"));
    EXPECT_EQ(item("日本")->property("tag").toInt(), NodePageView::firstNodeTag + 1);
    // Without a base URL that answered, nothing is asked.
    queue->runUntil([] { return false; }, 0.2);
    EXPECT_TRUE(backend.takeRequests().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(NodePageTest, AChosenNodeOutsideTheCachedSubscriptionIsNotSelected)
{
    choose("日本 1");
    cacheNames(numbered("日本", 3));
    EXPECT_EQ(page().toolbarTitleLabel()->text(), QStringLiteral("日本 1"));
    EXPECT_FALSE(page().autoRouteBtn()->isChecked());
    EXPECT_EQ(count(&ImageRadioButton::isChecked), 0); // no subscription known yet
    EXPECT_EQ(page().lastSelectedItem(), nullptr);

    defaults.set(UserDefaultsCacheKeys::subNodes, std::vector<std::string>{"日本 1", "日本 3"});
    NodePageView second;
    second.resize(920, 452);
    second.buildPage();
    EXPECT_TRUE(second.myNodeItmes()[0]->isChecked());
    EXPECT_TRUE(second.myNodeItmes()[1]->isLocked());
    EXPECT_FALSE(second.myNodeItmes()[2]->isLocked());
    EXPECT_EQ(second.lastSelectedItem(), second.myNodeItmes()[0]);
    EXPECT_EQ(second.myNodes(), (std::vector<std::string>{"日本 1", "日本 3"}));
}

TEST_F(NodePageTest, OnlyTheFirstFortyNamesAreShown)
{
    cacheNames(numbered("香港", 45));
    EXPECT_EQ(shownNames(), numbered("香港", 40));
    page().refreshNodes(numbered("美国", 45), numbered("美国", 45));
    EXPECT_EQ(shownNames(), numbered("美国", 40));
    EXPECT_EQ(page().myNodeItmes().back()->flagImage(), QStringLiteral("ic_country_america"));
    // A shorter list hides the rest.
    page().refreshNodes(numbered("德国", 3), std::vector<std::string>{});
    EXPECT_EQ(shownNames(), numbered("德国", 3));
    EXPECT_EQ(count(&ImageRadioButton::isLocked), 3);
}

TEST_F(NodePageTest, AnEmptySubscriptionFromTheServiceLocksEveryShownNode)
{
    signInForLists();
    backend.admin("POST",
                  "/_dev/nodes",
                  {{"all", numbered("日本", 12)}, {"subscription", nlohmann::json::array()}});
    cacheNames(numbered("日本", 12));
    choose("日本 2");

    EXPECT_EQ(shownNames().size(), 12u);
    EXPECT_EQ(count(&ImageRadioButton::isLocked), 0); // nothing to lock against yet
    ASSERT_TRUE(pumpUntil(*queue, [&] { return count(&ImageRadioButton::isLocked) == 12; }));
    EXPECT_EQ(count(&ImageRadioButton::isChecked), 0);
    EXPECT_TRUE(reports.empty());
    // An empty subscription is not cached; the names are.
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::subNodes).has_value());
    EXPECT_EQ(defaults.value(UserDefaultsCacheKeys::allNodes), PropertyValue(numbered("日本", 12)));
    // The requests went to the base URL that last answered, with the token.
    const auto requests = backend.takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1]["target"], "/api/customer/customerService/getSubscribeNodeList?id=1001");
    EXPECT_EQ(requests[1]["headers"]["token"], *defaults.string(UserDefaultsCacheKeys::apiToken));
}

TEST_F(NodePageTest, TheServiceListsReplaceTheCachedOnes)
{
    signInForLists();
    backend.admin("POST",
                  "/_dev/nodes",
                  {{"all", {"香港 01", "日本 01", "美国 01"}}, {"subscription", {"日本 01"}}});
    choose("日本 01");
    EXPECT_EQ(shownNames().size(), 10u); // the fallback names until the service answers
    ASSERT_TRUE(pumpUntil(*queue, [&] { return shownNames().size() == 3; }));
    EXPECT_EQ(shownNames(), (std::vector<std::string>{"香港 01", "日本 01", "美国 01"}));
    EXPECT_TRUE(item("香港 01")->isLocked());
    EXPECT_TRUE(item("日本 01")->isChecked());
    EXPECT_EQ(page().lastSelectedItem(), item("日本 01"));
    EXPECT_EQ(defaults.value(UserDefaultsCacheKeys::subNodes),
              PropertyValue(std::vector<std::string>{"日本 01"}));
}

TEST_F(NodePageTest, TapsSelectReportAndRespectLocks)
{
    defaults.set(UserDefaultsCacheKeys::subNodes, std::vector<std::string>{"香港", "日本"});
    choose("");
    ASSERT_TRUE(page().autoRouteBtn()->isChecked());

    // The selected item again: nothing at all.
    page().autoRouteBtn()->onTapButtonWithSender();
    EXPECT_TRUE(reports.empty());

    item("日本")->onTapButtonWithSender();
    EXPECT_EQ(reports, (std::vector<Report>{{"日本", "已切换至[日本]线路"}}));
    EXPECT_TRUE(item("日本")->isChecked());
    EXPECT_FALSE(page().autoRouteBtn()->isChecked());
    EXPECT_EQ(page().lastSelectedItem(), item("日本"));
    EXPECT_EQ(log.printed().back(), "切换选中：101");

    // A locked node only says why.
    reports.clear();
    ASSERT_TRUE(item("美国")->isLocked());
    item("美国")->onTapButtonWithSender();
    EXPECT_EQ(reports, (std::vector<Report>{{std::nullopt, "升级会员后可解锁使用"}}));
    EXPECT_FALSE(item("美国")->isChecked());
    EXPECT_TRUE(item("日本")->isChecked());
    EXPECT_EQ(page().lastSelectedItem(), item("日本"));

    reports.clear();
    page().autoRouteBtn()->onTapButtonWithSender();
    EXPECT_EQ(reports, (std::vector<Report>{{"", "已切换至[自动适配最佳线路]"}}));
    EXPECT_FALSE(item("日本")->isChecked());
    EXPECT_TRUE(page().autoRouteBtn()->isChecked());
    const auto printed = log.printed();
    EXPECT_EQ(printed[printed.size() - 2], "恢复上一上选中状态：101");
    EXPECT_EQ(printed.back(), "切换选中：10");
    // The page never writes the choice itself.
    EXPECT_EQ(QaroShared::shared().value(QaroShared::nodeNameKey), PropertyValue(""));
}

// Keyboard users walk the grid with the arrows and pick with Space or Enter; screen readers see
// each node as one radio button that says whether it is chosen or locked.
TEST_F(NodePageTest, TheKeyboardWalksTheGridAndScreenReadersSeeEachNode)
{
    defaults.set(UserDefaultsCacheKeys::subNodes, std::vector<std::string>{"香港", "日本"});
    choose("");
    page().show();
    const auto focusAfter = [&](ImageRadioButton *from, Qt::Key key) {
        from->setFocus();
        QTest::keyClick(from, key);
        return page().focusWidget();
    };
    EXPECT_EQ(focusAfter(item("香港"), Qt::Key_Right), item("日本"));
    EXPECT_EQ(focusAfter(item("日本"), Qt::Key_Down), item("台湾")); // the row below, same column
    EXPECT_EQ(focusAfter(item("香港"), Qt::Key_Up), page().autoRouteBtn());
    // Nothing further that way: the focus stays.
    EXPECT_EQ(focusAfter(item("马来西亚"), Qt::Key_Right), item("马来西亚"));
    EXPECT_EQ(focusAfter(item("马来西亚"), Qt::Key_Down), item("马来西亚"));

    QTest::keyClick(item("日本"), Qt::Key_Space);
    EXPECT_TRUE(item("日本")->isChecked());
    QTest::keyClick(item("美国"), Qt::Key_Return);
    EXPECT_EQ(reports.back(), Report(std::nullopt, "升级会员后可解锁使用"));

    const auto accessible = [](ImageRadioButton *node) {
        return QAccessible::queryAccessibleInterface(node);
    };
    EXPECT_EQ(accessible(item("日本"))->role(), QAccessible::RadioButton);
    EXPECT_EQ(accessible(item("日本"))->text(QAccessible::Name), QStringLiteral("日本"));
    EXPECT_TRUE(accessible(item("日本"))->state().checked);
    EXPECT_FALSE(accessible(item("香港"))->state().checked);
    EXPECT_FALSE(accessible(item("香港"))->state().disabled);
    EXPECT_EQ(accessible(item("美国"))->text(QAccessible::Name), QStringLiteral("美国（已锁定）"));
    EXPECT_TRUE(accessible(item("美国"))->state().disabled);
    EXPECT_EQ(accessible(item("美国"))->childCount(), 0); // circle and padlock are its parts
    accessible(item("香港"))->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(item("香港")->isChecked());
}

// A refresh that locks the selected node takes the selection with it: no later tap unlocks it.
TEST_F(NodePageTest, ALockedNodeIsNeverSelectable)
{
    defaults.set(UserDefaultsCacheKeys::subNodes, std::vector<std::string>{"香港", "日本"});
    choose("日本");
    ASSERT_EQ(page().lastSelectedItem(), item("日本"));

    page().refreshNodes({"香港", "日本"}, std::vector<std::string>{"香港"});
    ASSERT_TRUE(item("日本")->isLocked());
    item("香港")->onTapButtonWithSender();
    EXPECT_TRUE(item("日本")->isLocked());
    reports.clear();
    item("日本")->onTapButtonWithSender();
    EXPECT_EQ(reports, (std::vector<Report>{{std::nullopt, "升级会员后可解锁使用"}}));
    EXPECT_TRUE(item("香港")->isChecked());
}

TEST_F(NodePageTest, FailedListRequestsSayWhyOnceAndKeepTheGrid)
{
    cacheNames(numbered("韩国", 4));
    defaults.set(UserDefaultsCacheKeys::lastOkHost,
                 "http://127.0.0.1:" + std::to_string(refusedPort()));
    page();
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !reports.empty(); }));
    EXPECT_EQ(reports, (std::vector<Report>{{std::nullopt, "无效域名"}}));
    EXPECT_EQ(shownNames(), numbered("韩国", 4));

    // A reply that is JSON but no envelope.
    reports.clear();
    LoopbackServer server;
    server.server().Get("/api/public/sub/getNodeNames",
                        [](const auto &, httplib::Response &response) {
                            response.set_content("[1, 2]", "application/json");
                        });
    server.start();
    defaults.set(UserDefaultsCacheKeys::lastOkHost, server.origin());
    NodePageView second;
    second.resize(920, 452);
    second.nodeStateChangeBlock = [this](const auto &name, const auto &message) {
        reports.emplace_back(name, message);
    };
    second.buildPage();
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !reports.empty(); }));
    EXPECT_EQ(reports, (std::vector<Report>{{std::nullopt, "数据有误:数据解析失败"}}));
    EXPECT_TRUE(log.printed().back().starts_with("error:")) << log.printed().back();
}

TEST_F(NodePageTest, AFailedSubscriptionRequestStillRefreshesTheAutomaticItem)
{
    signInForLists();
    backend.admin("POST",
                  "/_dev/faults",
                  {{"path", "/api/customer/customerService/getSubscribeNodeList"},
                   {"kind", "40101"}});
    choose("香港");
    page();
    choose("ZiDedadu");
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !reports.empty(); }));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].first);
    EXPECT_FALSE(reports[0].second->empty());
    queue->runUntilIdle();
    EXPECT_TRUE(page().autoRouteBtn()->isChecked());
    EXPECT_EQ(count(&ImageRadioButton::isLocked), 0); // the grid itself is left as it was
}

TEST_F(ConsoleFixture, TheRoutePageIsInstalledOnceAndItsChoicesReachTheConsole)
{
    press(ConsoleTag::toolbarRoute);
    NodePageView *page = console().routePage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->geometry(), QRect(0, 128, 920, 452));
    EXPECT_FALSE(page->isHidden());
    press(ConsoleTag::toolbarHome);
    press(ConsoleTag::toolbarRoute);
    EXPECT_EQ(console().routePage(), page);
    EXPECT_EQ(console().otherWorkView()->findChildren<NodePageView *>().size(), 1);

    ImageRadioButton *japan = page->myNodeItmes()[1];
    ASSERT_EQ(japan->title(), QStringLiteral("日本"));
    japan->onTapButtonWithSender();
    EXPECT_FALSE(QaroShared::shared().value(QaroShared::nodeNameKey)); // on the main queue
    queue->runUntilIdle();
    EXPECT_EQ(QaroShared::shared().value(QaroShared::nodeNameKey), PropertyValue("日本"));
    EXPECT_EQ(lastToast(), "已切换至[日本]线路");
}
