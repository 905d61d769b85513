// Every control a person can press or type into has a name a screen reader can read.

#include "ConsoleFixture.h"

#include "console/ConnectButton.h"
#include "console/ConsoleHomeView.h"
#include "pages/ImageRadioButton.h"
#include "pages/LoginAlertView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLineEdit>

namespace {

// The visible controls of a window without an accessible name, by class and tag.
std::vector<std::string> unnamedControls(QWidget &window)
{
    std::vector<std::string> unnamed;
    const auto controls = window.findChildren<QWidget *>();
    for (QWidget *control : controls) {
        const bool interactive = qobject_cast<QAbstractButton *>(control)
                                 || qobject_cast<QLineEdit *>(control)
                                 || qobject_cast<ImageRadioButton *>(control);
        // A node's circle is a part of the node, which is the control.
        const bool part = qobject_cast<ImageRadioButton *>(control->parentWidget());
        if (!interactive || part || !control->isVisibleTo(&window))
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
        if (!accessible || accessible->text(QAccessible::Name).trimmed().isEmpty()) {
            const QString tag = control->property("tag").isValid()
                                    ? QStringLiteral(" tag ") + control->property("tag").toString()
                                    : QString();
            unnamed.push_back(
                (QString::fromLatin1(control->metaObject()->className()) + tag).toStdString());
        }
    }
    return unnamed;
}

} // namespace

TEST_F(ConsoleFixture, EveryVisibleControlHasAName)
{
    NodesInfoVC &window = console();
    window.resize(920, 580);
    window.show();
    queue->runUntilIdle();
    EXPECT_EQ(unnamedControls(window), std::vector<std::string>()) << "signed out";
    press(ConsoleTag::signIn);
    LoginAlertView *panel = window.findChild<LoginAlertView *>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(unnamedControls(window), std::vector<std::string>()) << "sign-in form";
    panel->onTapButtonWithSender(LoginAlertView::registerTag);
    EXPECT_EQ(unnamedControls(window), std::vector<std::string>()) << "registration form";
    panel->onTapButtonWithSender(LoginAlertView::closeTag);
    queue->runUntilIdle();

    signIn();
    window.refreshAccountInfo(false);
    queue->runUntilIdle();
    EXPECT_EQ(unnamedControls(window), std::vector<std::string>()) << "signed in";

    report(Platform::VPNStatus::connected);
    EXPECT_EQ(unnamedControls(window), std::vector<std::string>()) << "connected";

    press(ConsoleTag::nodeLine);
    EXPECT_EQ(unnamedControls(window), std::vector<std::string>()) << "node page";
    press(ConsoleTag::toolbarUser);
    EXPECT_EQ(unnamedControls(window), std::vector<std::string>()) << "account page";
}
