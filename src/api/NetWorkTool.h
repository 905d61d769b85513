#pragma once

#include "DataRequest.h"
#include "DataResponse.h"
#include "ParameterEncoding.h"
#include "URLRequest.h"

#include "platform/DateFormat.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Names of the notifications the application posts on the default notification centre.
inline constexpr const char NOTIFY_UPDATE_RUNNING_MODE_MENU[] = "NOTIFY_UPDATE_RUNNING_MODE_MENU";
inline constexpr const char NOTIFY_VPNActivation_Failed[] = "NOTIFY_VPNActivation_Failed";

// Where the service lives and how it answers.
struct KvApi
{
    // The three built-in API base URLs, in order. For running against a development backend on
    // other ports, ORVANE_API_BASE_URLS (three URLs separated by spaces) replaces them.
    static std::vector<std::string> builtinBaseUrls();
    // The API base URL handed to the tunnel when none has answered yet (ORVANE_TUNNEL_HOST_URL).
    static std::string tunnelHostUrl();
    static std::string paymentOrigin();      // ORVANE_PAYMENT_ORIGIN
    static std::string officialSiteOrigin(); // ORVANE_OFFICIAL_SITE_ORIGIN
    static std::string serviceChatUrl();     // ORVANE_SERVICE_CHAT_URL

    // The renewal page: "/webpay/#/?token=<token, percent-encoded>&time=<milliseconds since
    // 1970>" with a token, "/webpay/#/" without one.
    static std::string paymentPageUrl(const std::optional<std::string> &token,
                                      std::int64_t milliseconds);

    static constexpr int successCode = 0;
    static constexpr int sessionExpiredCode = 40101;

    static constexpr const char *loginPath = "/api/public/user/login";
    static constexpr const char *registerPath = "/api/public/user/register";
    static constexpr const char *resetPasswordPath = "/api/public/user/resetUserPassword";
    static constexpr const char *emailCodePath = "/api/public/code/getEmailCode";
    static constexpr const char *userInfoPath = "/api/customer/user/getUserInfo";
    static constexpr const char *publicSettingPath = "/api/public/server/getPublicSetting";
    static constexpr const char *serviceListPath
        = "/api/customer/customerService/getCustomerServiceList";
    static constexpr const char *nodeNamesPath = "/api/public/sub/getNodeNames";
    static constexpr const char *subscribeNodeListPath
        = "/api/customer/customerService/getSubscribeNodeList?id=";
};

// The error every failure handler receives.
class KvNetWorkError
{
public:
    enum class Kind { msg, invalidHost, dataAnalysis };

    static KvNetWorkError msg(std::string text);
    static KvNetWorkError invalidHost();
    static KvNetWorkError dataAnalysis();

    Kind kind() const { return m_kind; }
    const std::string &text() const { return m_text; } // the message of msg
    std::string localizedDescription() const;

    // A msg whose text says the sign-in has expired ("[40101]...").
    bool isSessionExpired() const;

    bool operator==(const KvNetWorkError &other) const = default;

private:
    KvNetWorkError(Kind kind, std::string text);

    Kind m_kind;
    std::string m_text;
};

// How a request chooses its base URL, and the screen's failover counter it reads and resets.
// The counter says where in the list the screen's requests start when no base is pinned; a
// request then walks the whole list from there, round to the start, passing over the bases it
// has tried itself, so that it gives up only after trying every one.
class BaseUrlPolicy
{
public:
    enum class Kind {
        builtinRotation, // the pinned base, else the built-ins from number iRetry
        listRotation,    // the pinned base, else baseUrlList() from number requsetCount
        lastBaseOnly,    // the pinned base or nothing
    };

    static BaseUrlPolicy builtinRotation(int &iRetry) { return {Kind::builtinRotation, &iRetry}; }
    static BaseUrlPolicy listRotation(int &requsetCount)
    {
        return {Kind::listRotation, &requsetCount};
    }
    static BaseUrlPolicy lastBaseOnly() { return {Kind::lastBaseOnly, nullptr}; }

    // The same policy for a request that has tried these bases already.
    BaseUrlPolicy skipping(const std::vector<std::string> &tried) const
    {
        BaseUrlPolicy policy = *this;
        policy.m_tried = &tried;
        return policy;
    }

    Kind kind() const { return m_kind; }
    int *counter() const { return m_counter; }
    bool hasTried(const std::string &base) const;

    // The candidates the kind rotates through: the built-ins, or baseUrlList().
    std::vector<std::string> candidates() const;

private:
    BaseUrlPolicy(Kind kind, int *counter)
        : m_kind(kind)
        , m_counter(counter)
    { }

    Kind m_kind;
    int *m_counter;
    const std::vector<std::string> *m_tried = nullptr;
};

// The client's one way of talking to the service, and small utilities the screens share.
class NetWorkTool
{
public:
    using SuccessHandler = std::function<void(const nlohmann::json &data)>;
    using FailureHandler = std::function<void(const KvNetWorkError &error)>;

    struct SentRequest
    {
        std::string base;
        std::shared_ptr<DataRequest> exchange;
    };

    // Sends a request through the base URL the policy picks, with the standard headers and a JSON
    // body, and interprets the answer with handleResponse on the main queue. Returns the base
    // URL used and the exchange, or nothing when the policy had none to give and nothing was
    // sent. With a delivery, the request goes out only if it claims it; once it has gone out, a
    // base that stops answering is reported as the transport's error, not as one to move on
    // from, since the server may have acted on it.
    static std::optional<SentRequest> buildRequest(const std::string &path,
                                                   HTTPMethod method,
                                                   const std::optional<Parameters> &parameters,
                                                   BaseUrlPolicy policy,
                                                   SuccessHandler success,
                                                   FailureHandler failure,
                                                   std::shared_ptr<SingleDelivery> delivery = {});

    // The base URL a request is to use now, or nothing: a used-up rotation resets its counter
    // and forgets a pinned base that the request found dead.
    static std::optional<std::string> pickBaseUrl(BaseUrlPolicy policy);
    // The one pickBaseUrl would give, without resetting anything when there is none.
    static std::optional<std::string> nextBaseUrl(BaseUrlPolicy policy);

    // The stored backup base URLs in their order, then the built-ins they lack. Blank entries
    // are left out; a stored list with any non-text element counts as none.
    static std::vector<std::string> baseUrlList();

    // The base URL ("http://" in front when it does not start with "http") and the path.
    static std::string composeUrl(const std::string &base, const std::string &path);

    // "token" and "authorization" (the stored token), and "version" (the short version
    // without its dots). A value with a control character is left out: it could forge headers.
    static HTTPHeaders requestHeaders(const std::optional<std::string> &token,
                                      const std::optional<std::string> &shortVersion);

    // The stored sign-in token, when it can be sent: one with a control character counts as
    // none.
    static std::optional<std::string> storedToken();

    // Interprets one completed response as the service's envelope {"code", "msg", "data"}. An
    // expired sign-in (40101) clears the session only when the request carried the token that
    // is still stored: a newer session is not the one that expired.
    static void handleResponse(const DataResponse &response,
                               const FailureHandler &failure,
                               int successCode,
                               const SuccessHandler &success);

    // The device identifier: "Linux-" and a UUID, kept in the settings and the keychain.
    static std::string deviceId();

    // Forgets the signed-in user; base URLs, node names, the device identifier and the
    // remembered sign-in stay.
    static void clearSession();

    // Opens an http or https page in the default browser; anything else opens nothing.
    static void openInBrowser(const std::string &url);

    // A server time stamp in the given output pattern, in the machine's time zone; empty when
    // it does not parse.
    static std::string convertDateString(const std::string &serverTime, const std::string &pattern);
    static std::string formatDate(Platform::DateFormat::TimePoint date, const std::string &pattern);

    // Whole days from one "yyyy-MM-dd" date to another (negative when the second is earlier);
    // nothing when either does not parse.
    static std::optional<int> daysBetween(const std::string &from, const std::string &to);
    static std::optional<int> daysFromToday(const std::string &date);
};
