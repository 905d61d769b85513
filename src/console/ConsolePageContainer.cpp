#include "ConsolePageContainer.h"

#include "pages/CanTapImageView.h"
#include "pages/ImageLibrary.h"
#include "pages/PixelFont.h"

#include <QLabel>
#include <QToolButton>

namespace {

constexpr int consoleWidth = 920;
constexpr int consoleHeight = 580;
constexpr int slotWidth = consoleWidth / ConsolePageContainer::slotCount;

} // namespace

ConsolePageContainer::ConsolePageContainer(TapHandler tap, QWidget *parent)
    : QWidget(parent)
    , m_tap(std::move(tap))
{
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("ConsolePageContainer { background-color: white; }"));
}

QLabel *ConsolePageContainer::marker()
{
    if (!m_marker) {
        m_marker = new QLabel(this);
        m_marker->setPixmap(
            ImageLibrary::pixmap(QStringLiteral("otherwork_toolbar_btn_back@2x.png"),
                                 QSize(slotWidth, topbarHeight)));
        m_marker->setGeometry(slotWidth * 4, 0, slotWidth, topbarHeight);
        m_marker->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    return m_marker;
}

QToolButton *ConsolePageContainer::toolbarButton(int tag)
{
    static const struct
    {
        const char *title;
        const char *image;
    } buttons[] = {
        {"网络加速", "maintabbar_1_n@2x.png"},
        {"线路选择", "maintabbar_2_n@2x.png"},
        {"导入配置", "maintabbar_3_n@2x.png"},
        {"添加节点", "maintabbar_4_n@2x.png"},
        {"会员中心", "maintabbar_5_n@2x.png"},
    };
    const int index = tag - ConsoleTag::toolbarHome;
    if (index < 0 || index > 4)
        return nullptr;
    QToolButton *&button = m_buttons[index];
    if (!button) {
        button = new QToolButton(this);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setText(QString::fromUtf8(buttons[index].title));
        button->setIcon(ImageLibrary::icon(QLatin1String(buttons[index].image), QSize(36, 36)));
        button->setIconSize(QSize(36, 36));
        button->setStyleSheet(
            QStringLiteral("QToolButton { border: none; background: transparent; color: white; }"));
        setPixelFont(button, 12, false);
        button->setProperty("tag", tag);
        button->hide();
        connect(button, &QToolButton::clicked, this, [this, tag] { m_tap(tag); });
    }
    return button;
}

QRect ConsolePageContainer::pageFrame() const
{
    return QRect(0, topbarHeight, consoleWidth, consoleHeight - topbarHeight);
}

void ConsolePageContainer::build()
{
    auto *header = new CanTapImageView(this);
    header->setPixmap(ImageLibrary::pixmap(QStringLiteral("otherwork_toolbar_back@2x.png"),
                                           QSize(consoleWidth, topbarHeight)));
    header->setGeometry(0, 0, consoleWidth, topbarHeight);
    marker()->raise();
    // The import and add buttons exist but have no place in the toolbar.
    for (const auto &[tag, slot] : {std::pair{ConsoleTag::toolbarHome, 0},
                                    {ConsoleTag::toolbarRoute, 2},
                                    {ConsoleTag::toolbarUser, 4}}) {
        QToolButton *button = toolbarButton(tag);
        button->setGeometry(slot * slotWidth, topbarHeight - 14 - 60, slotWidth, 60);
        button->show();
        button->raise();
    }
    toolbarButton(ConsoleTag::toolbarImport);
    toolbarButton(ConsoleTag::toolbarAdd);
    setPixelFont(toolbarButton(ConsoleTag::toolbarUser), 11, true);
}

void ConsolePageContainer::moveMarker(int index)
{
    marker()->move(slotWidth * (index == 1 ? 2 : index), 0);
    for (int tag : {ConsoleTag::toolbarRoute,
                    ConsoleTag::toolbarImport,
                    ConsoleTag::toolbarAdd,
                    ConsoleTag::toolbarUser})
        setPixelFont(toolbarButton(tag), 11, false);
}

void ConsolePageContainer::setBoldTitle(int tag)
{
    setPixelFont(toolbarButton(tag), 12, true);
}
