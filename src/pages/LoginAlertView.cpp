#include "LoginAlertView.h"

#include "BottomLeftFrame.h"
#include "ColorWithHex.h"
#include "ImageButton.h"
#include "ImageLibrary.h"
#include "LkTextField.h"
#include "PageControls.h"
#include "PageHost.h"
#include "PixelFont.h"
#include "RotatedPicture.h"

#include "api/NetWorkTool.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>

#include <atomic>

namespace {

using Outcome = ServiceRequest::Outcome;

constexpr qreal panelWidth = 390;
constexpr qreal panelHeight = 420;
constexpr qreal cardWidth = panelWidth - 20;
constexpr qreal cardHeight = panelHeight - 16;
constexpr const char serviceAgreement[] = "/license/%E7%94%A8%E6%88%B7%E5%8D%8F%E8%AE%AE.txt";
constexpr const char privacyAgreement[] = "/license/%E9%9A%90%E7%A7%81%E5%8D%8F%E8%AE%AE.txt";

QRect inCard(const QRectF &frame)
{
    return bottomLeftFrame(frame, cardHeight);
}

// Lengths as people count them: characters, not bytes.
qsizetype characters(const QString &text)
{
    return text.toUcs4().size();
}

LkTextField *makeField(QWidget *parent, const QString &placeholder, bool secret)
{
    auto *field = new LkTextField(parent);
    field->setFrame(false);
    setPixelFont(field, 14);
    field->setPlaceholderText(placeholder);
    // What to type there, for screen readers, which do not read a placeholder as a name.
    field->setAccessibleName(placeholder);
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, colorWithHex(QStringLiteral("#3F3934")));
    palette.setColor(QPalette::Base, colorWithHex(QStringLiteral("#E8E8E8")));
    palette.setColor(QPalette::PlaceholderText, colorWithHex(QStringLiteral("#666666"), 0.75));
    field->setPalette(palette);
    field->setInsertColor(colorWithHex(QStringLiteral("#558EE8")));
    if (secret)
        field->setEchoMode(QLineEdit::Password);
    field->setGeometry(bottomLeftFrame(QRectF(10, 12, 316, 16), 39));
    return field;
}

} // namespace

LoginAlertView::LoginAlertView(QWidget *parent)
    : QWidget(parent)
{
    resize(int(panelWidth), int(panelHeight));
}

LoginAlertView::~LoginAlertView()
{
    ++m_countdownGeneration;
    m_countdown.reset();
}

QWidget *LoginAlertView::card()
{
    if (!m_card) {
        m_card = new QWidget(this);
        m_card->setObjectName(QStringLiteral("card"));
        m_card->setAttribute(Qt::WA_StyledBackground);
        m_card->setStyleSheet(QStringLiteral("#card { background-color: white; }"));
    }
    return m_card;
}

QWidget *LoginAlertView::row(const QRectF &frame)
{
    auto *view = new QWidget(card());
    view->setAttribute(Qt::WA_StyledBackground);
    view->setStyleSheet(QStringLiteral("background-color: #E8E8E8;"));
    view->setGeometry(inCard(frame));
    return view;
}

LkTextField *LoginAlertView::accountField()
{
    if (!m_accountField)
        m_accountField = makeField(row(QRectF(17, 285, 336, 39)),
                                   QStringLiteral("请输入QARO账号"),
                                   false);
    return m_accountField;
}

QWidget *LoginAlertView::passwordView()
{
    if (!m_passwordView)
        m_passwordView = row(QRectF(17, 229, 336, 39));
    return m_passwordView;
}

LkTextField *LoginAlertView::passwordField()
{
    if (!m_passwordField)
        m_passwordField = makeField(passwordView(), QStringLiteral("请输入密码"), true);
    return m_passwordField;
}

QWidget *LoginAlertView::yzmView()
{
    if (!m_yzmView) {
        m_yzmView = row(QRectF(17, 229, 336, 39));
        m_yzmView->hide();
    }
    return m_yzmView;
}

LkTextField *LoginAlertView::yzmField()
{
    if (!m_yzmField) {
        m_yzmField = makeField(yzmView(), QStringLiteral("请输入验证码"), false);
        m_yzmField->setGeometry(bottomLeftFrame(QRectF(10, 12, 180, 16), 39));
    }
    return m_yzmField;
}

QPushButton *LoginAlertView::yzmButton()
{
    if (!m_yzmButton) {
        auto *button = new ImageButton(QStringLiteral("page_4_btn_border@2x.png"),
                                       QStringLiteral("获取验证码"),
                                       yzmView());
        button->setTitleColor(colorWithHex(QStringLiteral("#666666")));
        setPixelFont(button, 12);
        button->setGeometry(bottomLeftFrame(QRectF(206, 3, 120, 33), 39));
        connect(button, &QPushButton::clicked, this, [this] { onTapButtonWithSender(codeTag); });
        m_yzmButton = button;
    }
    return m_yzmButton;
}

QCheckBox *LoginAlertView::recordCheckButton()
{
    if (!m_recordCheckButton) {
        m_recordCheckButton = makeCheckbox(card(), QStringLiteral("记住密码"));
        m_recordCheckButton->setGeometry(inCard(QRectF(16, 188, 80, 18)));
    }
    return m_recordCheckButton;
}

QCheckBox *LoginAlertView::loginCheckButton()
{
    if (!m_loginCheckButton) {
        m_loginCheckButton = makeCheckbox(card(), QStringLiteral("自动登录"));
        m_loginCheckButton->setGeometry(inCard(QRectF(284, 188, 80, 18)));
        connect(m_loginCheckButton, &QCheckBox::clicked, this, [this] {
            onTapButtonWithSender(autoLoginTag);
        });
    }
    return m_loginCheckButton;
}

QPushButton *LoginAlertView::startLoginButton()
{
    if (!m_startLoginButton) {
        auto *button = new ImageButton(QStringLiteral("buttonBgImg"),
                                       QStringLiteral("登 录"),
                                       card());
        setPixelFont(button, 15);
        button->setGeometry(inCard(QRectF(107, 104, 156, 44)));
        connect(button, &QPushButton::clicked, this, [this] { onTapButtonWithSender(startTag); });
        m_startLoginButton = button;
    }
    return m_startLoginButton;
}

RotatedPicture *LoginAlertView::spinner()
{
    if (!m_spinner) {
        m_spinner = new RotatedPicture(card());
        m_spinner->setPicture(
            ImageLibrary::pixmap(QStringLiteral("mainwork_startingback@2x.png"), QSize(44, 44)));
        m_spinner->setGeometry(inCard(QRectF(163, 126, 44, 44)));
        m_spinner->hide();
    }
    return m_spinner;
}

QLabel *LoginAlertView::titleField()
{
    if (!m_titleField) {
        m_titleField = new QLabel(QStringLiteral("账号登录"), card());
        setPixelFont(m_titleField, 14);
        m_titleField->setStyleSheet(QStringLiteral("color: #3F3934;"));
        m_titleField->setGeometry(inCard(QRectF(33, 362, 100, 16)));
    }
    return m_titleField;
}

QPushButton *LoginAlertView::registerBtn()
{
    if (!m_registerBtn) {
        m_registerBtn = makeLinkButton(card(), QStringLiteral("免费注册>"), "#3B79E0", true);
        m_registerBtn->setGeometry(inCard(QRectF(18, 72, 60, 15)));
        connect(m_registerBtn, &QPushButton::clicked, this, [this] {
            onTapButtonWithSender(registerTag);
        });
    }
    return m_registerBtn;
}

QPushButton *LoginAlertView::forgetPwBtn()
{
    if (!m_forgetPwBtn) {
        m_forgetPwBtn = makeLinkButton(card(), QStringLiteral("忘记密码？"), "#3B79E0", true);
        m_forgetPwBtn->setGeometry(inCard(QRectF(284, 72, 60, 15)));
        connect(m_forgetPwBtn, &QPushButton::clicked, this, [this] {
            onTapButtonWithSender(forgetPasswordTag);
        });
    }
    return m_forgetPwBtn;
}

void LoginAlertView::buildPanel()
{
    auto *background = new QLabel(this);
    background->setPixmap(ImageLibrary::pixmap(QStringLiteral("LoginAlert_bg@2x.png"),
                                               QSize(int(panelWidth), int(panelHeight))));
    background->setGeometry(rect());
    card()->setGeometry(bottomLeftFrame(QRectF(10, 10, cardWidth, cardHeight), panelHeight));
    card()->raise();

    auto *accent = new QWidget(card());
    accent->setAttribute(Qt::WA_StyledBackground);
    accent->setStyleSheet(QStringLiteral("background-color: #558EE8;"));
    accent->setGeometry(inCard(QRectF(17, 361, 2, 15)));
    titleField();
    auto *separator = new QWidget(card());
    separator->setAttribute(Qt::WA_StyledBackground);
    separator->setStyleSheet(QStringLiteral("background-color: #E8E8E8;"));
    separator->setGeometry(inCard(QRectF(15, 348, 339, 1)));

    accountField();
    passwordField();
    yzmField();
    yzmButton();
    setTabOrder(accountField(), passwordField());
    recordCheckButton();
    loginCheckButton();
    startLoginButton();
    spinner();
    registerBtn();
    forgetPwBtn();
    QPushButton *service = makeLinkButton(card(), QStringLiteral("服务协议"), "#A3B2BA", false);
    service->setGeometry(inCard(QRectF(17, 10, 60, 15)));
    connect(service, &QPushButton::clicked, this, [this] {
        onTapButtonWithSender(serviceAgreementTag);
    });
    QPushButton *privacy = makeLinkButton(card(), QStringLiteral("隐私协议"), "#A3B2BA", false);
    privacy->setGeometry(inCard(QRectF(95, 10, 60, 15)));
    connect(privacy, &QPushButton::clicked, this, [this] {
        onTapButtonWithSender(privacyAgreementTag);
    });
    auto *close = new QPushButton(card());
    close->setFlat(true);
    close->setFocusPolicy(Qt::TabFocus);
    close->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"));
    close->setIcon(ImageLibrary::icon(QStringLiteral("titlebar_close"), QSize(13, 13)));
    close->setIconSize(QSize(13, 13));
    close->setGeometry(inCard(QRectF(cardWidth - 28, cardHeight - 28, 13, 13)));
    close->setAccessibleName(QStringLiteral("关闭"));
    connect(close, &QPushButton::clicked, this, [this] { onTapButtonWithSender(closeTag); });

    // What the user asked to be remembered.
    UserDefaults defaults = UserDefaults::standard();
    const auto remembered = defaults.value(UserDefaultsCacheKeys::lastAccountIdPw);
    recordCheckButton()->setChecked(remembered.has_value());
    if (remembered && remembered->is_object()) {
        const auto text = [&](const char *name) {
            const auto member = remembered->find(name);
            return member != remembered->end() && member->is_string()
                       ? QString::fromStdString(member->get<std::string>())
                       : QString();
        };
        accountField()->setText(text(UserDefaultsCacheKeys::rememberedAccountId));
        passwordField()->setText(text(UserDefaultsCacheKeys::rememberedPassword));
    }
    loginCheckButton()->setChecked(defaults.value(UserDefaultsCacheKeys::lastAutoLogin).has_value());
    showSignInForm();
}

void LoginAlertView::showSignInForm()
{
    m_iUIType = signIn;
    titleField()->setText(QStringLiteral("账号登录"));
    startLoginButton()->setText(QStringLiteral("登 录"));
    yzmView()->hide();
    passwordView()->setGeometry(inCard(QRectF(17, 229, 336, 39)));
    recordCheckButton()->show();
    loginCheckButton()->show();
    registerBtn()->setText(QStringLiteral("免费注册>"));
    forgetPwBtn()->show();
}

void LoginAlertView::showRegisterForm()
{
    m_iUIType = registration;
    titleField()->setText(QStringLiteral("账号注册"));
    startLoginButton()->setText(QStringLiteral("注 册"));
    yzmView()->setGeometry(inCard(QRectF(17, 229, 336, 39)));
    yzmView()->show();
    passwordView()->setGeometry(inCard(QRectF(17, 173, 336, 39)));
    recordCheckButton()->hide();
    loginCheckButton()->hide();
    registerBtn()->setText(QStringLiteral("<返回登录"));
    forgetPwBtn()->hide();
}

void LoginAlertView::showResetForm()
{
    showRegisterForm();
    m_iUIType = reset;
    titleField()->setText(QStringLiteral("重置密码"));
    startLoginButton()->setText(QStringLiteral("确 定"));
}

void LoginAlertView::setLoading(bool on)
{
    m_loading = on;
    // Applied on the main queue, whatever thread asks.
    std::weak_ptr<int> alive = m_alive;
    Platform::mainQueue().async([this, alive, on] {
        if (alive.expired())
            return;
        if (on) {
            startLoginButton()->setEnabled(false);
            startLoginButton()->hide();
            spinner()->show();
            spinner()->startTurning(QStringLiteral("logining.roate"), 0, 360, 1250, false);
            return;
        }
        const char *titles[] = {"登 录", "注 册", "确 定"};
        startLoginButton()->setText(QString::fromUtf8(titles[m_iUIType]));
        spinner()->stopTurning();
        spinner()->hide();
        startLoginButton()->show();
        startLoginButton()->setEnabled(true);
    });
}

std::optional<std::string> LoginAlertView::validateEmail()
{
    const QString account = accountField()->text().trimmed();
    if (account.isEmpty()) {
        showMessage("请输入邮箱账号");
        return std::nullopt;
    }
    static const QRegularExpression address(QRegularExpression::anchoredPattern(
        QStringLiteral("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}")));
    if (!address.match(account).hasMatch()) {
        showMessage("请输入有效邮箱账号");
        return std::nullopt;
    }
    return account.toStdString();
}

void LoginAlertView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        onTapButtonWithSender(closeTag);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Reached from a text field; a focused button has taken its own Enter already.
        if (!event->isAutoRepeat() && startLoginButton()->isVisible()) {
            // The form's button takes the focus so ending the edit leaves it in the panel.
            startLoginButton()->setFocus(Qt::OtherFocusReason);
            onTapButtonWithSender(startTag);
        }
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool LoginAlertView::focusNextPrevChild(bool next)
{
    // The panel covers the console: Tab goes round its own controls only.
    QWidget *candidate = QApplication::focusWidget();
    if (!candidate || !isAncestorOf(candidate))
        candidate = this;
    for (QWidget *start = candidate;;) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (candidate == start)
            return false;
        if (isAncestorOf(candidate) && candidate->isVisible() && candidate->isEnabled()
            && (candidate->focusPolicy() & Qt::TabFocus)) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
}

void LoginAlertView::onTapButtonWithSender(int tag)
{
    endEditing();
    switch (tag) {
    case startTag:
        start();
        return;
    case registerTag:
    case forgetPasswordTag:
        if (m_iUIType != signIn)
            showSignInForm();
        else if (tag == registerTag)
            showRegisterForm();
        else
            showResetForm();
        return;
    case serviceAgreementTag:
        NetWorkTool::openInBrowser(KvApi::officialSiteOrigin() + serviceAgreement);
        return;
    case privacyAgreementTag:
        NetWorkTool::openInBrowser(KvApi::officialSiteOrigin() + privacyAgreement);
        return;
    case codeTag:
        requestCode();
        return;
    case autoLoginTag:
        if (loginCheckButton()->isChecked())
            UserDefaults::standard().set(UserDefaultsCacheKeys::lastAutoLogin, "true");
        else
            UserDefaults::standard().remove(UserDefaultsCacheKeys::lastAutoLogin);
        return;
    default:
        setLoading(false);
        stopCountdown();
        if (valuebackBlock)
            valuebackBlock("Cancel");
        return;
    }
}

void LoginAlertView::start()
{
    const auto account = validateEmail();
    if (!account)
        return;
    const QString password = passwordField()->text().trimmed();
    if (characters(password) <= 5) {
        showMessage("请输入有效的密码");
        return;
    }
    const QString code = yzmField()->text().trimmed();
    if (m_iUIType != signIn && characters(code) <= 3) {
        showMessage("请输入有效的验证码");
        return;
    }
    if (m_iUIType == signIn) {
        // Remembered (or forgotten) now, whatever the sign-in's outcome.
        UserDefaults defaults = UserDefaults::standard();
        if (recordCheckButton()->isChecked())
            defaults.set(UserDefaultsCacheKeys::lastAccountIdPw,
                         {{UserDefaultsCacheKeys::rememberedAccountId, *account},
                          {UserDefaultsCacheKeys::rememberedPassword, password.toStdString()}});
        else
            defaults.remove(UserDefaultsCacheKeys::lastAccountIdPw);
    }
    setLoading(true);
    std::weak_ptr<int> alive = m_alive;
    Platform::mainQueue().after(0.5,
                                [this,
                                 alive,
                                 form = m_iUIType,
                                 account = *account,
                                 password = password.toStdString(),
                                 code = code.toStdString()] {
                                    if (alive.expired())
                                        return;
                                    std::weak_ptr<int> stillAlive = m_alive;
                                    const auto answer = [this, stillAlive, form](
                                                            const Outcome &outcome) {
                                        if (stillAlive.expired())
                                            return;
                                        if (form == reset)
                                            handleReset(outcome);
                                        else
                                            handleSignIn(outcome,
                                                         form == signIn ? "Account" : "Register");
                                    };
                                    if (form == signIn)
                                        m_requests.login(account, password, answer);
                                    else if (form == registration)
                                        m_requests.registerAccount(account, code, password, answer);
                                    else
                                        m_requests.resetPassword(account, code, password, answer);
                                });
}

void LoginAlertView::handleSignIn(const Outcome &outcome, const char *result)
{
    const bool signingIn = std::string(result) == "Account";
    switch (outcome.kind) {
    case Outcome::Kind::exhausted:
        exhausted();
        return;
    case Outcome::Kind::succeeded: {
        const auto user = outcome.data.is_object() ? outcome.data.find("user") : outcome.data.end();
        if (user == outcome.data.end() || !user->is_object()) {
            showMessage("加载用户信息失败，请稍候重试");
            setLoading(false);
            return;
        }
        finishPanel(result);
        return;
    }
    case Outcome::Kind::outdated: // the panel's calls are not a signed-in user's
        setLoading(false);
        return;
    case Outcome::Kind::failed:
        break;
    }
    const KvNetWorkError &error = *outcome.error;
    setLoading(false);
    if (error.kind() == KvNetWorkError::Kind::dataAnalysis) {
        showMessage("数据解析失败");
    } else if (signingIn) {
        showMessage("登录失败:" + error.text());
    } else {
        Platform::Log::print("register.err:" + error.text());
        showMessage(error.text());
    }
}

void LoginAlertView::handleReset(const Outcome &outcome)
{
    switch (outcome.kind) {
    case Outcome::Kind::exhausted:
        exhausted();
        return;
    case Outcome::Kind::succeeded:
        setLoading(false);
        showMessage("重置成功，请重新登录！");
        showSignInForm();
        return;
    case Outcome::Kind::outdated: // the panel's calls are not a signed-in user's
        setLoading(false);
        return;
    case Outcome::Kind::failed:
        break;
    }
    const KvNetWorkError &error = *outcome.error;
    if (error.kind() == KvNetWorkError::Kind::dataAnalysis) {
        showMessage("数据解析失败");
    } else {
        Platform::Log::print("resetPW.err:" + error.text());
        showMessage(error.text());
    }
    setLoading(false);
}

void LoginAlertView::requestCode()
{
    const auto account = validateEmail();
    if (!account)
        return;
    startCountdown(60);
    std::weak_ptr<int> alive = m_alive;
    m_requests.requestEmailCode(*account,
                                m_iUIType == registration
                                    ? SignInRequests::CodePurpose::registration
                                    : SignInRequests::CodePurpose::passwordReset,
                                [this, alive](const Outcome &outcome) {
                                    if (!alive.expired())
                                        handleCode(outcome);
                                });
}

void LoginAlertView::handleCode(const Outcome &outcome)
{
    switch (outcome.kind) {
    case Outcome::Kind::exhausted:
        exhausted();
        stopCountdown();
        return;
    case Outcome::Kind::succeeded:
        showMessage("已发送，请注意查收");
        return;
    case Outcome::Kind::outdated: // the panel's calls are not a signed-in user's
        setLoading(false);
        return;
    case Outcome::Kind::failed:
        break;
    }
    stopCountdown();
    const KvNetWorkError &error = *outcome.error;
    showMessage(error.kind() == KvNetWorkError::Kind::dataAnalysis
                    ? "数据解析失败"
                    : "发送验证码失败:" + error.text());
}

void LoginAlertView::exhausted()
{
    showMessage("服务无法连接，请稍候重试...");
    setLoading(false);
}

void LoginAlertView::startCountdown(int seconds)
{
    stopCountdown();
    yzmButton()->setEnabled(false);
    auto remaining = std::make_shared<std::atomic<int>>(seconds);
    const unsigned generation = ++m_countdownGeneration;
    std::weak_ptr<int> alive = m_alive;
    // The tick runs on the background queue and touches nothing but its count.
    m_countdown = Platform::backgroundQueue()
                      .scheduleRepeating(1.0, 0.1, [this, alive, remaining, generation] {
                          const int left = --*remaining;
                          Platform::mainQueue().async([this, alive, left, generation] {
                              if (alive.expired() || generation != m_countdownGeneration)
                                  return;
                              yzmButton()->setText(left >= 1
                                                       ? QStringLiteral("%1秒后重发").arg(left)
                                                       : QStringLiteral("获取验证码"));
                              if (left <= 0) {
                                  yzmButton()->setEnabled(true);
                                  m_countdown.reset();
                              }
                          });
                      });
}

void LoginAlertView::stopCountdown()
{
    const unsigned generation = ++m_countdownGeneration;
    m_countdown.reset();
    std::weak_ptr<int> alive = m_alive;
    // A countdown started meanwhile owns the button.
    Platform::mainQueue().async([this, alive, generation] {
        if (alive.expired() || generation != m_countdownGeneration)
            return;
        yzmButton()->setEnabled(true);
        yzmButton()->setText(QStringLiteral("获取验证码"));
    });
}

void LoginAlertView::finishPanel(const std::string &result)
{
    setLoading(false);
    stopCountdown();
    if (valuebackBlock)
        valuebackBlock(result);
}

void LoginAlertView::showMessage(const std::string &message)
{
    if (m_superVC)
        m_superVC->showToast(message);
}
