#pragma once

#include "api/SignInRequests.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class LkTextField;
class PageHost;
class QCheckBox;
class QLabel;
class QPushButton;
class RotatedPicture;

namespace Platform {
class RepeatingTimer;
}

// The card in which the user signs in with an e-mail account and a password, registers, or
// resets a forgotten password with a code sent by e-mail. It checks its fields, talks to the
// service itself, stores what a sign-in returns, and reports "Account", "Register" or "Cancel"
// through valuebackBlock. Its messages go through the hosting console. From the keyboard, Tab
// stays within the panel, Enter submits the form and Escape closes the panel as its close
// button does.
class LoginAlertView : public QWidget
{
    Q_OBJECT

public:
    enum Form { signIn = 0, registration = 1, reset = 2 };

    enum Tag {
        closeTag = 0,
        startTag = 10,
        registerTag = 13,
        forgetPasswordTag = 14,
        serviceAgreementTag = 15,
        privacyAgreementTag = 16,
        codeTag = 17,
        autoLoginTag = 20,
    };

    explicit LoginAlertView(QWidget *parent = nullptr);
    ~LoginAlertView() override;

    std::function<void(const std::string &result)> valuebackBlock;

    void setSuperVC(PageHost *host) { m_superVC = host; }

    void buildPanel();
    void onTapButtonWithSender(int tag);

    void showSignInForm();
    void showRegisterForm();
    void showResetForm();
    void setLoading(bool on);
    // The account's trimmed text when it is an e-mail address; otherwise says why and gives none.
    std::optional<std::string> validateEmail();
    void startCountdown(int seconds);
    void stopCountdown();
    void finishPanel(const std::string &result);

    int iUIType() const { return m_iUIType; }
    int iRetry() const { return m_requests.iRetry(); }
    bool isLoading() const { return m_loading; }

    LkTextField *accountField();
    LkTextField *passwordField();
    LkTextField *yzmField();
    QCheckBox *recordCheckButton();
    QCheckBox *loginCheckButton();
    QPushButton *startLoginButton();
    RotatedPicture *spinner();
    QLabel *titleField();
    QWidget *passwordView();
    QWidget *yzmView();
    QPushButton *yzmButton();
    QPushButton *registerBtn();
    QPushButton *forgetPwBtn();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void start();
    void requestCode();
    void sendFormRequest(int form);
    void showMessage(const std::string &message);
    void handleSignIn(const ServiceRequest::Outcome &outcome, const char *result);
    void handleReset(const ServiceRequest::Outcome &outcome);
    void handleCode(const ServiceRequest::Outcome &outcome);
    void exhausted();
    QWidget *card();
    QWidget *row(const QRectF &frame);

    PageHost *m_superVC = nullptr;
    SignInRequests m_requests;
    int m_iUIType = signIn;
    bool m_loading = false;
    std::unique_ptr<Platform::RepeatingTimer> m_countdown;
    unsigned m_countdownGeneration = 0; // moves on with every start and stop of the countdown
    // Work queued for later holds this weakly: it does nothing once the panel has gone.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);

    QWidget *m_card = nullptr;
    LkTextField *m_accountField = nullptr;
    LkTextField *m_passwordField = nullptr;
    LkTextField *m_yzmField = nullptr;
    QCheckBox *m_recordCheckButton = nullptr;
    QCheckBox *m_loginCheckButton = nullptr;
    QPushButton *m_startLoginButton = nullptr;
    RotatedPicture *m_spinner = nullptr;
    QLabel *m_titleField = nullptr;
    QWidget *m_passwordView = nullptr;
    QWidget *m_yzmView = nullptr;
    QPushButton *m_yzmButton = nullptr;
    QPushButton *m_registerBtn = nullptr;
    QPushButton *m_forgetPwBtn = nullptr;
};
