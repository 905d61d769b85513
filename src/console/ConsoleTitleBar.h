#pragma once

#include "TaggedButtons.h"

#include <QWidget>

class QLabel;
class RotatedPicture;

namespace Platform {
class Bundle;
}

// The console's own title bar along the top of its view: the logo with the version, the window
// buttons, the customer-service button, and either the account block (account, traffic, days
// left) or the sign-in button with its wiggling hint. Pressing on its background moves the
// window.
class ConsoleTitleBar : public QWidget
{
    Q_OBJECT

public:
    static constexpr int barHeight = 46;

    ConsoleTitleBar(TapHandler tap, QWidget *parent = nullptr);

    void build();

    QWidget *accountBack();
    QPushButton *accountButton();
    QPushButton *mergeButton();
    QPushButton *expireButton();
    QPushButton *loginButton();
    RotatedPicture *tips();
    QPushButton *versionButton();

    void showLoginTips();
    void hideLoginTips();

    // "1.2.3" from short version and build; "1.2" and "0" stand in for missing ones, and
    // "1.2.0" for a bundle without information.
    static QString versionText(const Platform::Bundle &bundle);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    // A picture and a text that show information and do nothing when clicked.
    QPushButton *makeInfoButton(const QString &image, const QString &title, int width);

    TapHandler m_tap;
    QWidget *m_accountBack = nullptr;
    QPushButton *m_accountButton = nullptr;
    QPushButton *m_mergeButton = nullptr;
    QPushButton *m_expireButton = nullptr;
    QPushButton *m_loginButton = nullptr;
    RotatedPicture *m_tips = nullptr;
    QPushButton *m_versionButton = nullptr;
};
