#include "ApiEndpoints.h"

#include "BackendState.h"

#include <httplib.h>

#include <charconv>
#include <functional>

namespace Dev {

namespace {

constexpr std::string_view RegisterCode = "EMAIL_TYPE_USER_REGISTER";
constexpr std::string_view ResetPasswordCode = "EMAIL_TYPE_USER_RESETPWD";
constexpr std::size_t MinimumPasswordLength = 6;

std::string tokenOf(const httplib::Request &request)
{
    const std::string token = request.get_header_value("token");
    return token.empty() ? request.get_header_value("authorization") : token;
}

} // namespace

std::optional<Result> ApiEndpoints::handle(const httplib::Request &request, std::time_t now)
{
    using PostEndpoint = Result (ApiEndpoints::*)(const Parameters &, std::time_t);
    static const std::map<std::string, PostEndpoint> posts = {
        {"/api/public/user/login", &ApiEndpoints::login},
        {"/api/public/user/register", &ApiEndpoints::registerAccount},
        {"/api/public/user/resetUserPassword", &ApiEndpoints::resetPassword},
        {"/api/public/code/getEmailCode", &ApiEndpoints::sendEmailCode},
    };

    if (request.method == "POST") {
        const auto endpoint = posts.find(request.path);
        if (endpoint == posts.end())
            return std::nullopt;
        const std::optional<Parameters> parameters = parametersOf(request.body);
        if (!parameters)
            return failure(BadParameter);
        return std::invoke(endpoint->second, this, *parameters, now);
    }
    if (request.method != "GET")
        return std::nullopt;

    if (request.path == "/api/public/server/getPublicSetting")
        return publicSetting();
    if (request.path == "/api/public/sub/getNodeNames")
        return nodeNames();

    const bool needsAccount = request.path == "/api/customer/user/getUserInfo"
                              || request.path
                                     == "/api/customer/customerService/getCustomerServiceList"
                              || request.path
                                     == "/api/customer/customerService/getSubscribeNodeList";
    if (!needsAccount)
        return std::nullopt;
    const Account *account = authenticated(request, now);
    if (!account)
        return failure(NotSignedIn);
    if (request.path == "/api/customer/user/getUserInfo")
        return userInfo(*account);
    if (request.path == "/api/customer/customerService/getCustomerServiceList")
        return serviceList(*account, now);
    return subscribeNodes(request, *account);
}

Result ApiEndpoints::login(const Parameters &parameters, std::time_t now)
{
    if (!hasAll(parameters, {"user_name", "password"}))
        return failure(BadParameter);
    Account *account = m_state.accounts.find(normalizedEmail(parameters.at("user_name")));
    if (!account || !account->passwordMatches(parameters.at("password")))
        return failure(WrongCredentials);
    return signedIn(*account, now);
}

Result ApiEndpoints::registerAccount(const Parameters &parameters, std::time_t now)
{
    if (!hasAll(parameters, {"user_name", "email_code", "password", "re_password"}))
        return failure(BadParameter);
    const std::string email = normalizedEmail(parameters.at("user_name"));
    const std::string &code = parameters.at("email_code");
    if (!m_state.codes.isValid(email, std::string(RegisterCode), code, now))
        return failure(BadEmailCode);
    const std::string &password = parameters.at("password");
    if (password != parameters.at("re_password") || password.size() < MinimumPasswordLength)
        return failure(BadParameter);
    if (m_state.accounts.find(email))
        return failure(AlreadyRegistered);

    m_state.codes.consume(email, std::string(RegisterCode), code, now);
    return signedIn(m_state.accounts.create(email, password, now), now);
}

Result ApiEndpoints::resetPassword(const Parameters &parameters, std::time_t now)
{
    if (!hasAll(parameters, {"user_name", "email_code", "password"}))
        return failure(BadParameter);
    const std::string email = normalizedEmail(parameters.at("user_name"));
    const std::string &code = parameters.at("email_code");
    if (!m_state.codes.isValid(email, std::string(ResetPasswordCode), code, now))
        return failure(BadEmailCode);
    const std::string &password = parameters.at("password");
    if (password.size() < MinimumPasswordLength)
        return failure(BadParameter);
    Account *account = m_state.accounts.find(email);
    if (!account)
        return failure(NoSuchAccount);

    m_state.codes.consume(email, std::string(ResetPasswordCode), code, now);
    account->setPassword(password);
    m_state.saveAccounts();
    return success();
}

Result ApiEndpoints::sendEmailCode(const Parameters &parameters, std::time_t now)
{
    if (!hasAll(parameters, {"email_type", "target_email"}))
        return failure(BadParameter);
    const std::string &type = parameters.at("email_type");
    if (type != RegisterCode && type != ResetPasswordCode)
        return failure(BadParameter);
    const std::string email = normalizedEmail(parameters.at("target_email"));
    if (!looksLikeEmail(email))
        return failure(BadEmailAddress);

    const std::string code = m_state.codes.issue(email, type, now);
    m_state.log.write("devbackend: code for " + email + " (" + type + "): " + code);
    return success();
}

Result ApiEndpoints::userInfo(const Account &account)
{
    return success(account.userObject(false));
}

Result ApiEndpoints::publicSetting()
{
    std::string urls;
    if (m_state.backendUrl) {
        urls = *m_state.backendUrl;
    } else {
        for (const std::string &url : m_state.ownBaseUrls)
            urls += (urls.empty() ? "" : "\n") + url;
    }
    return success({{"backend_url", urls}});
}

Result ApiEndpoints::serviceList(const Account &account, std::time_t now)
{
    nlohmann::json services = nlohmann::json::array();
    if (account.hasService)
        services.push_back(account.serviceObject(now));
    return success(services);
}

Result ApiEndpoints::nodeNames()
{
    return success(m_state.nodes.names());
}

Result ApiEndpoints::subscribeNodes(const httplib::Request &request, const Account &account)
{
    const std::string text = request.get_param_value("id");
    int id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return failure(BadParameter);
    if (!account.hasService || id != account.service.id)
        return success(nlohmann::json::array());
    return success(m_state.nodes.subscriptionFor(account.memberLevel));
}

Result ApiEndpoints::signedIn(Account &account, std::time_t now)
{
    const std::string token = m_state.accounts.issueToken(account, now);
    m_state.saveAccounts();
    return success({{"token", token}, {"user", account.userObject(true)}});
}

Account *ApiEndpoints::authenticated(const httplib::Request &request, std::time_t now)
{
    return m_state.accounts.findByToken(tokenOf(request), now);
}

} // namespace Dev
