#include "console/ToastWindowController.h"
#include "pages/ImageRadioButton.h"

#include "InstalledManualQueue.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace {

// Finishes the fade in progress at once.
void finishFade(ToastWindowController &toast)
{
    ASSERT_TRUE(toast.fade());
    toast.fade()->setCurrentTime(toast.fade()->duration());
}

} // namespace

TEST(ToastWindowController, FadesInStaysTwoSecondsAndFadesOut)
{
    InstalledManualQueue queue;
    ToastWindowController toast;
    toast.setMessage(QStringLiteral("登录成功！"));
    toast.showWindow();
    EXPECT_TRUE(toast.isVisible());
    EXPECT_EQ(toast.panelOpacity(), 0);
    EXPECT_TRUE(toast.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(toast.windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(toast.windowFlags() & Qt::WindowTransparentForInput); // never blocks a click
    // Screen readers announce it as an alert that reads its message.
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&toast);
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->role(), QAccessible::AlertMessage);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("登录成功！"));

    toast.showHud();
    EXPECT_EQ(toast.fade()->duration(), 350);
    finishFade(toast);
    EXPECT_EQ(toast.panelOpacity(), 1);
    EXPECT_TRUE(toast.hasFadeOutTimer());

    queue->advance(1.99);
    EXPECT_FALSE(toast.isFadingOut());
    queue->advance(0.01);
    EXPECT_TRUE(toast.isFadingOut());
    finishFade(toast);
    EXPECT_FALSE(toast.isVisible());
    EXPECT_FALSE(toast.isFadingOut());
}

TEST(ToastWindowController, ShowingAgainDuringTheFadeOutKeepsTheWindow)
{
    InstalledManualQueue queue;
    ToastWindowController toast;
    toast.setMessage(QStringLiteral("x"));
    toast.showWindow();
    toast.showHud();
    finishFade(toast);
    queue->advance(2.0);
    ASSERT_TRUE(toast.isFadingOut());
    QPropertyAnimation *fadingOut = toast.fade();
    toast.showHud();
    EXPECT_FALSE(toast.isFadingOut());
    EXPECT_NE(toast.fade(), fadingOut);
    finishFade(toast);
    EXPECT_TRUE(toast.isVisible());

    // Closed in any phase, nothing of it runs on.
    toast.close();
    EXPECT_FALSE(toast.hasFadeOutTimer());
    queue->advance(5);
    EXPECT_FALSE(toast.isFadingOut());
}

TEST(ToastWindowController, IsSizedByItsTextAndCentredInTheVisibleArea)
{
    InstalledManualQueue queue;
    ToastWindowController empty;
    empty.showWindow();
    EXPECT_EQ(empty.size(), QSize(60, 120));

    ToastWindowController longText;
    longText.setMessage(QString(400, QChar(u'长')));
    longText.showWindow();
    EXPECT_LE(longText.width(), 860);
    EXPECT_EQ(longText.height(), 120);
    // At most ten lines; what does not fit the fixed height is clipped.
    const int line = QFontMetrics(longText.titleTextField()->font()).lineSpacing();
    EXPECT_LE(longText.titleTextField()->height(), 10 * line);
    const QSize visible = QGuiApplication::primaryScreen()->availableGeometry().size();
    EXPECT_EQ(longText.x(), (visible.width() - longText.width()) / 2);
    EXPECT_EQ(longText.y(), (visible.height() - 120) / 2);
    EXPECT_EQ(longText.titleTextField()->x(), 30);
}

// Texts from the service show as they are written: never as markup, in toasts or node names.
TEST(ToastWindowController, ServerTextsAreNeverMarkup)
{
    InstalledManualQueue queue;
    const QString markup = QStringLiteral("<b>会员</b><img src=\"x\">");
    ToastWindowController toast;
    toast.setMessage(markup);
    toast.showWindow();
    EXPECT_EQ(toast.titleTextField()->textFormat(), Qt::PlainText);

    ImageRadioButton node;
    node.configure(QRect(0, 0, 144, 24), markup, QStringLiteral("ic_country_auto"));
    EXPECT_EQ(node.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(node.title(), markup);
}
