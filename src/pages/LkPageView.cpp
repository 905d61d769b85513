#include "LkPageView.h"

#include "BottomLeftFrame.h"
#include "ColorWithHex.h"

namespace {

constexpr int toolbarHeight = 48;

} // namespace

LkPageView::LkPageView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground);
}

QWidget *LkPageView::toolView()
{
    if (!m_toolView) {
        m_toolView = new QWidget(this);
        m_toolView->setAttribute(Qt::WA_StyledBackground);
        m_toolView->setStyleSheet(QStringLiteral("background-color: #F6F6F6;"));
    }
    return m_toolView;
}

QLabel *LkPageView::toolbarTitleLabel()
{
    if (!m_toolbarTitleLabel) {
        m_toolbarTitleLabel = new QLabel(toolView());
        m_toolbarTitleLabel->setTextFormat(Qt::PlainText); // may name a node of the service
        QFont font = m_toolbarTitleLabel->font();
        font.setPixelSize(14);
        m_toolbarTitleLabel->setFont(font);
        m_toolbarTitleLabel->setStyleSheet(
            QStringLiteral("color: #3F3934; background: transparent;"));
    }
    return m_toolbarTitleLabel;
}

void LkPageView::buildPage()
{
    QWidget *bar = toolView();
    bar->setGeometry(
        bottomLeftFrame(QRectF(0, height() - toolbarHeight, width(), toolbarHeight), height()));
    auto *accent = new QWidget(bar);
    accent->setAttribute(Qt::WA_StyledBackground);
    accent->setStyleSheet(
        QStringLiteral("background-color: %1;").arg(colorWithHex(QStringLiteral("#558EE8")).name()));
    accent->setGeometry(bottomLeftFrame(QRectF(21, 11, 2, 15), toolbarHeight));
    toolbarTitleLabel()->setText(QString());
    toolbarTitleLabel()->setGeometry(bottomLeftFrame(QRectF(34, 11, 300, 16), toolbarHeight));
    bar->show();
}
