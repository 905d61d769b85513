#include "pages/WindowDrag.h"
#include "pages/CanTapImageView.h"
#include "pages/CanTapScrollview.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>
#include <QWindow>

#include <vector>

namespace {

// Stands in for the window manager, which the offscreen platform lacks: writes down each window
// whose move was asked for, and grants or refuses it.
struct RecordedMoves
{
    RecordedMoves()
    {
        WindowDrag::setSystemMove([this](QWindow *window) {
            windows.push_back(window);
            return granted;
        });
    }
    ~RecordedMoves() { WindowDrag::setSystemMove({}); }

    std::vector<QWindow *> windows;
    bool granted = true;
};

} // namespace

TEST(WindowDrag, OnlyTheLeftButtonMovesTheWholeWindow)
{
    QWidget window;
    window.resize(200, 100);
    auto *picture = new CanTapImageView(&window);
    picture->setGeometry(0, 0, 100, 100);
    auto *list = new CanTapScrollview(&window);
    list->setGeometry(100, 0, 100, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    RecordedMoves moves;
    for (QWidget *view : {static_cast<QWidget *>(picture), list->viewport()}) {
        moves.windows.clear();
        QTest::mouseClick(view, Qt::RightButton);
        QTest::mouseClick(view, Qt::MiddleButton);
        EXPECT_TRUE(moves.windows.empty()) << view->metaObject()->className();
        QTest::mouseClick(view, Qt::LeftButton);
        // The top-level window moves, not the view pressed.
        EXPECT_EQ(moves.windows, std::vector<QWindow *>{window.windowHandle()});
    }
}

TEST(WindowDrag, APressGoesOnWhenNoMoveBegins)
{
    RecordedMoves moves;
    QMouseEvent left(QEvent::MouseButtonPress,
                     QPointF(5, 5),
                     QPointF(5, 5),
                     Qt::LeftButton,
                     Qt::LeftButton,
                     Qt::NoModifier);
    QWidget window;
    // Not shown yet: there is no window to move.
    EXPECT_FALSE(WindowDrag::begin(&window, &left));
    EXPECT_TRUE(moves.windows.empty());

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(WindowDrag::begin(&window, &left));
    moves.granted = false; // the window system refuses: the view handles the press itself
    EXPECT_FALSE(WindowDrag::begin(&window, &left));
    EXPECT_EQ(moves.windows.size(), 2U);
}
