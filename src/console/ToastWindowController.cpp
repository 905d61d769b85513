#include "ToastWindowController.h"

#include "ui_ToastWindowController.h"

#include "pages/AccessibleFactory.h"
#include "platform/Dispatch.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

namespace {

QPointer<ToastWindowController> &lastShown()
{
    static QPointer<ToastWindowController> toast;
    return toast;
}

// Screen readers announce an alert when it appears, without moving the focus to it. Its name is
// the window's title, which is the message.
class ToastAccessible : public QAccessibleWidget
{
public:
    explicit ToastAccessible(ToastWindowController *toast)
        : QAccessibleWidget(toast, QAccessible::AlertMessage)
    { }
};

} // namespace

ToastWindowController::ToastWindowController(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::ToastWindowController>())
{
    installAccessibleInterface<ToastWindowController, ToastAccessible>();
}

ToastWindowController::~ToastWindowController() = default;

ToastWindowController *ToastWindowController::onScreen()
{
    ToastWindowController *toast = lastShown();
    return toast && toast->isVisible() ? toast : nullptr;
}

ToastWindowController *ToastWindowController::present(const QString &message, QWidget *parent)
{
    auto *toast = new ToastWindowController(parent);
    toast->setAttribute(Qt::WA_DeleteOnClose);
    toast->setMessage(message);
    toast->showWindow();
    toast->showHud();
    return toast;
}

QLabel *ToastWindowController::titleTextField() const
{
    return m_ui->titleTextField;
}

QWidget *ToastWindowController::panelView() const
{
    return m_ui->panelView;
}

qreal ToastWindowController::panelOpacity() const
{
    return m_opacity ? m_opacity->opacity() : 0;
}

void ToastWindowController::showWindow()
{
    if (!m_loaded) {
        m_ui->setupUi(this);
        m_loaded = true;
        windowDidLoad();
    }
    // The message is also the window's title, for screen readers and window lists.
    setWindowTitle(m_message);
    lastShown() = this;
    show();
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void ToastWindowController::windowDidLoad()
{
    // A message never stands in the way: clicks go through it to what lies beneath.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint
                   | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    QWidget *panel = m_ui->panelView;
    panel->setAttribute(Qt::WA_StyledBackground);
    panel->setStyleSheet(QStringLiteral("#panelView { background-color: rgba(13, 13, 13, %1); "
                                        "border-radius: %2px; }")
                             .arg(int(kHudAlphaValue * 255))
                             .arg(kHudCornerRadius));
    m_opacity = new QGraphicsOpacityEffect(panel);
    m_opacity->setOpacity(0); // invisible until the fade-in
    panel->setGraphicsEffect(m_opacity);

    QLabel *label = m_ui->titleTextField;
    label->setTextFormat(Qt::PlainText); // messages come from the service too: never markup
    label->setText(m_message);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    layoutHud();
}

void ToastWindowController::layoutHud()
{
    QLabel *label = m_ui->titleTextField;
    const QFontMetrics metrics(label->font());
    const int maxHeight = 10 * metrics.lineSpacing();
    const QRect text = metrics.boundingRect(QRect(0, 0, int(kHudMaxWidth), maxHeight),
                                            Qt::AlignCenter | Qt::TextWordWrap,
                                            m_message);
    const int w = m_message.isEmpty() ? 0 : text.width();
    const int h = std::min(m_message.isEmpty() ? 0 : text.height(), maxHeight);

    // Centred in the screen's visible size, counted from the screen's own origin.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize visible = screen ? screen->availableGeometry().size() : QSize(920, 580);
    const int width = w + int(2 * kHudHorizontalMargin);
    const int height = int(kHudHeight);
    setGeometry((visible.width() - width) / 2, (visible.height() - height) / 2, width, height);
    m_ui->panelView->setGeometry(0, 0, width, height);
    // Rounded even where no compositor makes the window's corners transparent.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, width, height), kHudCornerRadius, kHudCornerRadius);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
    label->setGeometry(int(kHudHorizontalMargin), (height - h) / 2, w, h);
}

void ToastWindowController::animatePanel(qreal to, double seconds, std::function<void()> finished)
{
    if (m_fade)
        m_fade->stop();
    auto *fade = new QPropertyAnimation(m_opacity, "opacity", this);
    fade->setDuration(int(seconds * 1000));
    fade->setEndValue(to);
    connect(fade, &QPropertyAnimation::finished, this, std::move(finished));
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void ToastWindowController::showHud()
{
    m_timerToFadeOut = 0;
    m_fadingOut = false;
    animatePanel(1.0, kHudFadeInDuration, [this] {
        const unsigned timer = m_timerToFadeOut = ++m_timers;
        Platform::mainQueue().after(kHudDisplayDuration,
                                    [self = QPointer<ToastWindowController>(this), timer] {
                                        if (self && self->m_timerToFadeOut == timer)
                                            self->fadeOutHud();
                                    });
    });
}

void ToastWindowController::fadeOutHud()
{
    m_timerToFadeOut = 0;
    m_fadingOut = true;
    animatePanel(0.0, kHudFadeOutDuration, [this] {
        if (m_fadingOut)
            hide();
        m_fadingOut = false;
    });
}

void ToastWindowController::closeEvent(QCloseEvent *event)
{
    // Closed in any phase: nothing of it keeps running.
    m_timerToFadeOut = 0;
    if (m_fade)
        m_fade->stop();
    QWidget::closeEvent(event);
}
