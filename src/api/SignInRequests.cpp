#include "SignInRequests.h"

#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"
#include "UserInfo.h"

#include "platform/Text.h"

namespace {

std::string trimmed(const std::string &text)
{
    return std::string(Platform::Text::trimmed(text));
}

} // namespace

SignInRequests::SignInRequests() = default;

void SignInRequests::login(const std::string &account,
                           const std::string &password,
                           Completion completion)
{
    send(KvApi::loginPath,
         {{"user_name", trimmed(account)},
          {"password", trimmed(password)},
          {"email_code", ""},
          {"device_id", NetWorkTool::deviceId()}},
         true,
         std::move(completion));
}

void SignInRequests::registerAccount(const std::string &account,
                                     const std::string &code,
                                     const std::string &password,
                                     Completion completion)
{
    send(KvApi::registerPath,
         {{"user_name", trimmed(account)},
          {"email_code", trimmed(code)},
          {"password", trimmed(password)},
          {"re_password", trimmed(password)},
          {"referrer_code", ""},
          {"device_id", NetWorkTool::deviceId()}},
         true,
         std::move(completion));
}

void SignInRequests::resetPassword(const std::string &account,
                                   const std::string &code,
                                   const std::string &password,
                                   Completion completion)
{
    send(KvApi::resetPasswordPath,
         {{"user_name", trimmed(account)},
          {"email_code", trimmed(code)},
          {"password", trimmed(password)},
          {"device_id", NetWorkTool::deviceId()}},
         false,
         std::move(completion));
}

void SignInRequests::requestEmailCode(const std::string &account,
                                      CodePurpose purpose,
                                      Completion completion)
{
    send(KvApi::emailCodePath,
         {{"email_type",
           purpose == CodePurpose::registration ? "EMAIL_TYPE_USER_REGISTER"
                                                : "EMAIL_TYPE_USER_RESETPWD"},
          {"target_email", trimmed(account)}},
         false,
         std::move(completion));
}

bool SignInRequests::storeLoginResult(const nlohmann::json &data)
{
    if (!data.is_object())
        return false;
    UserDefaults defaults = UserDefaults::standard();
    if (const auto token = data.find("token"); token != data.end() && token->is_string())
        defaults.set(UserDefaultsCacheKeys::apiToken, *token);
    const auto user = data.find("user");
    if (user == data.end() || !user->is_object())
        return false;
    UserInfo::store(UserInfo::fromServerUser(*user, UserInfo::Source::signInReply));
    return true;
}

void SignInRequests::send(const char *path,
                          Parameters parameters,
                          bool signsIn,
                          Completion completion)
{
    *m_iRetry = 0;
    ServiceRequest::send({path,
                          HTTPMethod::post,
                          std::move(parameters),
                          BaseUrlPolicy::Kind::builtinRotation,
                          false,
                          signsIn},
                         m_iRetry,
                         [signsIn, completion = std::move(completion)](
                             const ServiceRequest::Outcome &outcome) {
                             if (signsIn && outcome.kind == ServiceRequest::Outcome::Kind::succeeded)
                                 storeLoginResult(outcome.data);
                             if (completion)
                                 completion(outcome);
                         });
}
