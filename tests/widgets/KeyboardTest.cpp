// The console from the keyboard alone: Tab order, the focus ring, Enter, and the sign-in panel.

#include "ConsoleFixture.h"

#include "pages/FocusRing.h"
#include "pages/LkTextField.h"
#include "pages/LoginAlertView.h"
#include "pages/UserAccountPage.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

namespace {

QString nameOf(QWidget *widget)
{
    QAccessibleInterface *accessible = widget ? QAccessible::queryAccessibleInterface(widget)
                                              : nullptr;
    return accessible ? accessible->text(QAccessible::Name) : QStringLiteral("(none)");
}

// Presses a key where the keyboard focus is, and names what has the focus then.
QString afterKey(QWidget &window, int key, Qt::KeyboardModifiers modifiers = {})
{
    QWidget *focused = QApplication::focusWidget();
    QTest::keyClick(focused ? focused : &window, Qt::Key(key), modifiers);
    return nameOf(QApplication::focusWidget());
}

class KeyboardTest : public ConsoleFixture
{
protected:
    NodesInfoVC &activeConsole()
    {
        NodesInfoVC &window = console();
        window.resize(920, 580);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        queue->runUntilIdle();
        return window;
    }
};

} // namespace

TEST_F(KeyboardTest, TabVisitsTheConsoleInReadingOrderWithAVisibleRing)
{
    NodesInfoVC &window = activeConsole();
    QApplication::focusWidget()->clearFocus();
    QStringList visited;
    for (int i = 0; i < 11; ++i)
        visited << afterKey(window, Qt::Key_Tab);
    // Of the two mode buttons, Tab stops at the chosen one; the arrows move between them.
    EXPECT_EQ(
        visited.join(QLatin1Char('|')).toStdString(),
        "登录|联系客服|最小化|关闭|开始加速|自动适配最佳线路|智能模式|网络加速|线路选择|会员中心|"
        "登录");
    EXPECT_EQ(afterKey(window, Qt::Key_Tab, Qt::ShiftModifier), QStringLiteral("会员中心"));

    auto *ring = window.findChild<FocusRing *>();
    ASSERT_TRUE(ring);
    EXPECT_TRUE(ring->isVisible());
    EXPECT_EQ(ring->target(), QApplication::focusWidget());
    EXPECT_TRUE(ring->geometry().contains(
        QRect(ring->target()->mapTo(&window, QPoint(0, 0)), ring->target()->size())));
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(600, 300));
    EXPECT_FALSE(ring->isVisible()) << "a click hides the ring";

    // Enter presses the focused button: the account tab opens the account page.
    while (nameOf(QApplication::focusWidget()) != QStringLiteral("会员中心"))
        ASSERT_NE(afterKey(window, Qt::Key_Tab), visited[0]) << "the account tab is never reached";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    queue->runUntilIdle();
    ASSERT_TRUE(window.userPage());
    EXPECT_TRUE(window.userPage()->isVisible());
}

TEST_F(KeyboardTest, ThePanelKeepsTabEnterSubmitsAndEscapeCloses)
{
    NodesInfoVC &window = activeConsole();
    press(ConsoleTag::signIn);
    LoginAlertView *panel = window.loginPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(QApplication::focusWidget(), panel->accountField());
    for (int i = 0; i < 20; ++i) {
        afterKey(window, Qt::Key_Tab);
        ASSERT_TRUE(panel->isAncestorOf(QApplication::focusWidget()))
            << "Tab left the panel for " << nameOf(QApplication::focusWidget()).toStdString();
    }

    panel->accountField()->setFocus();
    QTest::keyClick(panel->accountField(), Qt::Key_Return);
    EXPECT_EQ(lastToast(), "请输入邮箱账号");
    EXPECT_TRUE(window.loginPanel()) << "a refused form stays open";

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    queue->runUntilIdle();
    EXPECT_FALSE(window.loginPanel());
}
