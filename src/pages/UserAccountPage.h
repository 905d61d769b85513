#pragma once

#include "LkPageView.h"

#include "platform/PropertyValue.h"

#include <optional>

class CanTapImageView;
class QCheckBox;
class QLabel;
class QPushButton;

// The account page: who is signed in and their membership badge, the expiry with the days
// left, the remaining traffic, and the launch-at-login and automatic sign-in switches, with
// renew, save and sign-out buttons. It shows only what other parts stored and sends no request.
class UserAccountPage : public LkPageView
{
    Q_OBJECT

public:
    enum Tag {
        autoLoginTag = 5002,
        renewTag = 6000,
        saveSettingsTag = 6001,
        signOutTag = 6002,
        questionsTag = 6003,
        aboutTag = 6004,
        officialSiteTag = 6005,
    };

    explicit UserAccountPage(QWidget *parent = nullptr);

    void buildPage() override;
    // Fills every value from storage; the placeholders only when no user is signed in.
    void refreshAccount();
    void onTapButtonWithSender(int tag);

    // The membership badge for the days left and the level; nothing keeps the current one.
    static std::optional<QString> badgeImageName(int days, std::int64_t level);

    CanTapImageView *superUserHeader() const { return m_superUserHeader; }
    QString badgeImage() const { return m_badgeImage; }
    QLabel *accountLabel() const { return m_accountLabel; }
    QLabel *userLabel() const { return m_userLabel; }
    QPushButton *exprietimeBtn() const { return m_exprietimeBtn; }
    QLabel *expiretimeLabel() const { return m_expiretimeLabel; }
    QPushButton *mergeBtn() const { return m_mergeBtn; }
    QCheckBox *autolaunchButton() const { return m_autolaunchButton; }
    QCheckBox *autologinButton() const { return m_autologinButton; }

private:
    QWidget *box(const QRectF &frame);
    QPushButton *link(const QString &title, int tag, const QRectF &frame);
    QPushButton *imageTitle(QWidget *parent, const QString &image, const QRectF &frame);
    QLabel *label(QWidget *parent, Qt::Alignment alignment, const QRectF &frame);
    QCheckBox *checkbox(QWidget *parent, const QString &title, const QRectF &frame);
    void setBadge(const QString &image);
    void showSignedOut();
    void showRecord(const Platform::PropertyValue &record);

    CanTapImageView *m_superUserHeader = nullptr;
    QString m_badgeImage;
    QLabel *m_accountLabel = nullptr;
    QLabel *m_userLabel = nullptr;
    QPushButton *m_exprietimeBtn = nullptr;
    QLabel *m_expiretimeLabel = nullptr;
    QPushButton *m_mergeBtn = nullptr;
    QCheckBox *m_autolaunchButton = nullptr;
    QCheckBox *m_autologinButton = nullptr;
};
