#pragma once

#include <QPointer>
#include <QPropertyAnimation>
#include <QString>
#include <QWidget>

#include <memory>

class QGraphicsOpacityEffect;
class QLabel;

namespace Ui {
class ToastWindowController;
}

// A short message in a translucent, rounded dark panel centred on the screen: it fades in over
// 0.35 s, stays 2 s, and fades out over 0.35 s. The window never takes the keyboard focus.
class ToastWindowController : public QWidget
{
    Q_OBJECT

public:
    static constexpr double kHudFadeInDuration = 0.35;
    static constexpr double kHudFadeOutDuration = 0.35;
    static constexpr double kHudDisplayDuration = 2.0;
    static constexpr double kHudAlphaValue = 0.75;
    static constexpr double kHudCornerRadius = 18.0;
    static constexpr double kHudHorizontalMargin = 30.0;
    static constexpr double kHudHeight = 120.0;
    static constexpr double kHudMaxWidth = 800.0;

    explicit ToastWindowController(QWidget *parent = nullptr);
    ~ToastWindowController() override;

    // The toast shown last, whoever showed it, while it is still on screen.
    static ToastWindowController *onScreen();
    // A new toast with the message, shown at once; it deletes itself when it closes.
    static ToastWindowController *present(const QString &message, QWidget *parent = nullptr);

    void setMessage(const QString &message) { m_message = message; }
    const QString &message() const { return m_message; }

    // Loads the window (windowDidLoad) and shows it, still invisible until showHud.
    void showWindow();
    void windowDidLoad();
    void layoutHud();
    void showHud();
    void fadeOutHud();

    QLabel *titleTextField() const;
    QWidget *panelView() const;
    // The fade in progress, if any; tests finish it at once.
    QPropertyAnimation *fade() const { return m_fade; }
    bool isFadingOut() const { return m_fadingOut; }
    bool hasFadeOutTimer() const { return m_timerToFadeOut != 0; }
    qreal panelOpacity() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void animatePanel(qreal to, double seconds, std::function<void()> finished);

    std::unique_ptr<Ui::ToastWindowController> m_ui;
    QString m_message;
    bool m_loaded = false;
    QGraphicsOpacityEffect *m_opacity = nullptr;
    QPointer<QPropertyAnimation> m_fade;
    unsigned m_timerToFadeOut = 0; // the pending fade-out's number; 0 for none
    unsigned m_timers = 0;
    bool m_fadingOut = false;
};
