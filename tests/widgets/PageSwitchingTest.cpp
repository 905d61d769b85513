#include "ConsoleFixture.h"

#include "console/ConsoleHomeView.h"
#include "console/ConsolePageContainer.h"
#include "console/ConsoleTitleBar.h"

#include "platform/Bundle.h"

#include <QLabel>
#include <QToolButton>

#include <fstream>

TEST_F(ConsoleFixture, PagesAreReachedFromTheHomeViewAndTheToolbar)
{
    // The pages' container is built when the first page opens, not at start.
    EXPECT_TRUE(console().findChildren<ConsolePageContainer *>().isEmpty());

    press(ConsoleTag::userTab); // the member centre tab
    ASSERT_EQ(console().findChildren<ConsolePageContainer *>().size(), 1);
    ConsolePageContainer *container = console().otherWorkView();
    EXPECT_FALSE(container->isHidden());
    EXPECT_TRUE(console().mainWorkView()->isHidden());
    EXPECT_EQ(container->marker()->x(), 4 * 184);
    EXPECT_TRUE(container->toolbarButton(ConsoleTag::toolbarUser)->font().bold());
    EXPECT_TRUE(console().pageuserLoaded());

    press(ConsoleTag::toolbarRoute); // the route page, from the toolbar
    EXPECT_EQ(container->marker()->x(), 2 * 184);
    EXPECT_TRUE(container->toolbarButton(ConsoleTag::toolbarRoute)->font().bold());
    EXPECT_FALSE(container->toolbarButton(ConsoleTag::toolbarUser)->font().bold());
    EXPECT_TRUE(console().pagerouteLoaded());

    press(ConsoleTag::toolbarPastLast); // past the last slot: the marker leaves the header
    EXPECT_EQ(container->marker()->x(), 5 * 184);
    EXPECT_GE(container->marker()->x(), container->width());

    press(ConsoleTag::toolbarHome);
    EXPECT_TRUE(container->isHidden());
    EXPECT_FALSE(console().mainWorkView()->isHidden());
}

TEST(ConsoleTitleBar, TheVersionLabelJoinsVersionAndBuild)
{
    TemporaryHome home;
    const auto bundleWith = [&](const std::string &info) {
        std::filesystem::create_directories(home.root() / "X.app/Contents");
        std::ofstream(home.root() / "X.app/Contents/Info.json") << info;
        return Platform::Bundle(home.root() / "X.app");
    };
    EXPECT_EQ(ConsoleTitleBar::versionText(
                  bundleWith(R"({"CFBundleShortVersionString": "1.3", "CFBundleVersion": "7"})")),
              QStringLiteral("1.3.7"));
    EXPECT_EQ(ConsoleTitleBar::versionText(bundleWith(R"({"CFBundleIdentifier": "x"})")),
              QStringLiteral("1.2.0"));
    EXPECT_EQ(ConsoleTitleBar::versionText(bundleWith("{}")), QStringLiteral("1.2.0"));
    EXPECT_EQ(ConsoleTitleBar::versionText(bundleWith(R"({"CFBundleVersion": "9"})")),
              QStringLiteral("1.2.9"));
}
