#pragma once

#include "ServiceRequest.h"

#include <memory>
#include <string>

// The sign-in panel's four requests: sign-in, registration, password reset and e-mail code. They
// rotate through the built-in base URLs with the panel's counter iRetry, which every call, being
// a new user action, starts at 0. Completions run on the main queue, and not at all once this
// object is gone. Accounts, passwords and codes are sent trimmed of surrounding white space.
class SignInRequests
{
public:
    enum class CodePurpose { registration, passwordReset };

    using Completion = ServiceRequest::Completion;

    SignInRequests();

    // On success the reply's token and user record are stored before the completion runs.
    void login(const std::string &account, const std::string &password, Completion completion);
    void registerAccount(const std::string &account,
                         const std::string &code,
                         const std::string &password,
                         Completion completion);
    void resetPassword(const std::string &account,
                       const std::string &code,
                       const std::string &password,
                       Completion completion);
    void requestEmailCode(const std::string &account, CodePurpose purpose, Completion completion);

    int iRetry() const { return *m_iRetry; }

    // Stores a sign-in or registration reply: its "token", and the record built from its "user".
    // Returns whether a user record was stored.
    static bool storeLoginResult(const nlohmann::json &data);

private:
    void send(const char *path, Parameters parameters, bool signsIn, Completion completion);

    std::shared_ptr<int> m_iRetry = std::make_shared<int>(0);
};
