#include "pages/CancelTapView.h"
#include "pages/ColorWithHex.h"
#include "pages/LkPageView.h"
#include "pages/LkTableRowView.h"
#include "pages/LkTextField.h"
#include "pages/OnlyIntegerValueFormatter.h"
#include "pages/PageControls.h"
#include "pages/TextFieldShortcuts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>

TEST(ColorWithHex, ReadsEachDigitCount)
{
    EXPECT_EQ(colorWithHex(QStringLiteral("#3F3934")), QColor(0x3F, 0x39, 0x34));
    const QColor withAlpha = colorWithHex(QStringLiteral("0xCADEFA"), 0.5);
    EXPECT_EQ(withAlpha.rgb(), QColor(0xCA, 0xDE, 0xFA).rgb());
    EXPECT_NEAR(withAlpha.alphaF(), 0.5, 0.001);
    EXPECT_EQ(colorWithHex(QStringLiteral("#F0A")), QColor(0xFF, 0x00, 0xAA));
    EXPECT_NEAR(colorWithHex(QStringLiteral("#F0A8")).alphaF(), 8.0 / 15, 0.001);
    EXPECT_EQ(colorWithHex(QStringLiteral("#11223380")), QColor(0x11, 0x22, 0x33, 0x80));
    // Other counts are black with the given alpha.
    EXPECT_EQ(colorWithHex(QStringLiteral("#12345"), 0.75), QColor::fromRgbF(0, 0, 0, 0.75));
    EXPECT_EQ(colorWithHex(QString()), QColor(Qt::black));
    EXPECT_EQ(colorWithHex(QStringLiteral("#1234567890")), QColor(Qt::black));
}

TEST(OnlyIntegerValueFormatter, LetsThroughIntegersWhileTheyAreTyped)
{
    OnlyIntegerValueFormatter formatter;
    int position = 0;
    for (QString valid :
         {QString(), QStringLiteral("12"), QStringLiteral("-3"), QStringLiteral(" +42 ")})
        EXPECT_EQ(formatter.validate(valid, position), QValidator::Acceptable)
            << valid.toStdString();
    for (QString invalid :
         {QStringLiteral("-"), QStringLiteral("1.5"), QStringLiteral("12a"), QStringLiteral("a")})
        EXPECT_EQ(formatter.validate(invalid, position), QValidator::Invalid)
            << invalid.toStdString();
}

TEST(TextFieldShortcuts, ControlKeysEditEveryField)
{
    TextFieldShortcuts::install();
    QWidget window;
    auto *field = new QLineEdit(&window);
    window.show();
    field->setFocus();
    field->setText(QStringLiteral("demo@orvane.test"));

    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field->selectedText(), QStringLiteral("demo@orvane.test"));
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("demo@orvane.test"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("demo@orvane.testdemo@orvane.test"));
    QApplication::clipboard()->clear();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), field->text());
}

TEST(SmallControls, PageBaseRowSelectionCaretAndCover)
{
    LkPageView page;
    page.resize(920, 452);
    page.buildPage();
    EXPECT_EQ(page.toolView()->geometry(), QRect(0, 0, 920, 48));
    EXPECT_TRUE(page.toolbarTitleLabel()->text().isEmpty());
    EXPECT_EQ(page.toolbarTitleLabel()->geometry(), QRect(34, 21, 300, 16));

    LkTableRowView rows;
    EXPECT_EQ(rows.selectionRect(QRectF(0, 0, 400, 30)), QRectF(25, 0, 350, 30));
    rows.setSelectionHighlightStyle(LkTableRowView::SelectionHighlightStyle::none);
    EXPECT_TRUE(rows.selectionRect(QRectF(0, 0, 400, 30)).isEmpty());

    QWidget window;
    auto *field = new LkTextField(&window);
    field->setInsertColor(QColor(0x55, 0x8E, 0xE8));
    window.show();
    EXPECT_NE(field->caretColor(), field->insertColor());
    field->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(field->caretColor(), QColor(0x55, 0x8E, 0xE8));

    // A click on the cover never reaches what lies behind it.
    QWidget screen;
    screen.resize(200, 200);
    auto *behind = new QPushButton(&screen);
    behind->setGeometry(0, 0, 200, 200);
    auto *cover = new CancelTapView(&screen);
    cover->setGeometry(0, 0, 200, 200);
    screen.show();
    QSignalSpy clicks(behind, &QPushButton::clicked);
    QTest::mouseClick(cover, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(clicks.count(), 0);
}

TEST(SmallControls, CheckboxesShowTheirBoxTickedOrNot)
{
    QWidget page;
    page.setStyleSheet(QStringLiteral("QWidget { background: white; }"));
    page.resize(120, 40);
    QCheckBox *check = makeCheckbox(&page, QStringLiteral("记住密码"));
    check->setGeometry(10, 10, 100, 18);
    QStyleOptionButton option;
    option.initFrom(check);
    const QRect box = check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check);
    ASSERT_EQ(box.width(), 12);

    // The box's colours, counted over the indicator alone.
    const auto colours = [&] {
        const QImage image = check->grab(box).toImage();
        int grey = 0;
        int white = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (qAbs(pixel.red() - 0x66) < 24 && qAbs(pixel.blue() - 0x66) < 24)
                    ++grey;
                else if (pixel.lightness() > 240)
                    ++white;
            }
        }
        return std::pair(grey, white);
    };
    // Unticked: a grey border around a white inside, so the box shows on a white card.
    const auto [greyOff, whiteOff] = colours();
    EXPECT_GE(greyOff, 20);
    EXPECT_GE(whiteOff, 60);
    // Ticked: filled grey with a white tick.
    check->setChecked(true);
    const auto [greyOn, whiteOn] = colours();
    EXPECT_GT(greyOn, 2 * greyOff);
    EXPECT_GE(whiteOn, 8);
    EXPECT_LT(whiteOn, whiteOff / 2);
}
