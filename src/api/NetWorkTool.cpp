#include "NetWorkTool.h"

#include "ClientPlatform.h"
#include "SessionManager.h"
#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"
#include "WvKeyChain.h"
#include "api/Deployment.h"

#include "platform/Bundle.h"
#include "platform/DateFormat.h"
#include "platform/Log.h"
#include "platform/Text.h"
#include "platform/Uuid.h"
#include "platform/Workspace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

constexpr const char logCategory[] = "NetWorkTool";

// Whether the request went out with the token stored now (or, both times, with none).
bool sentWithStoredToken(const URLRequest &request)
{
    const auto sent = request.headers.find("token");
    const std::optional<std::string> token = sent == request.headers.end()
                                                 ? std::nullopt
                                                 : std::optional(sent->second);
    return token == NetWorkTool::storedToken();
}

std::string variableOr(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::string(value) : std::string(fallback);
}

// For a request that must not be repeated and has gone out: its server may have acted on it, so
// an answer that never came is the transport's error, not a base to move on from.
NetWorkTool::FailureHandler withoutMovingOn(const NetWorkTool::FailureHandler &failure,
                                            const DataResponse &response)
{
    std::optional<std::string> lost;
    if (const ResponseError *error = response.error())
        lost = localizedDescription(*error);
    return [failure, lost](const KvNetWorkError &error) {
        if (!failure)
            return;
        const bool movesOn = error.kind() == KvNetWorkError::Kind::invalidHost && lost;
        failure(movesOn ? KvNetWorkError::msg(*lost) : error);
    };
}

} // namespace

std::vector<std::string> KvApi::builtinBaseUrls()
{
    if (const char *replacement = std::getenv("ORVANE_API_BASE_URLS")) {
        std::istringstream words(replacement);
        std::vector<std::string> urls;
        for (std::string url; words >> url;)
            urls.push_back(url);
        if (urls.size() == 3)
            return urls;
    }
    return {Deployment::apiBaseUrls[0], Deployment::apiBaseUrls[1], Deployment::apiBaseUrls[2]};
}

std::string KvApi::tunnelHostUrl()
{
    return variableOr("ORVANE_TUNNEL_HOST_URL", Deployment::tunnelHostUrl);
}

std::string KvApi::paymentOrigin()
{
    return variableOr("ORVANE_PAYMENT_ORIGIN", Deployment::paymentOrigin);
}

std::string KvApi::officialSiteOrigin()
{
    return variableOr("ORVANE_OFFICIAL_SITE_ORIGIN", Deployment::officialSiteOrigin);
}

std::string KvApi::serviceChatUrl()
{
    return variableOr("ORVANE_SERVICE_CHAT_URL", Deployment::serviceChatUrl);
}

std::string KvApi::paymentPageUrl(const std::optional<std::string> &token, std::int64_t milliseconds)
{
    const std::string page = paymentOrigin() + "/webpay/#/";
    if (!token)
        return page;
    return page + "?token=" + URLEncoding::percentEncoded(*token)
           + "&time=" + std::to_string(milliseconds);
}

KvNetWorkError::KvNetWorkError(Kind kind, std::string text)
    : m_kind(kind)
    , m_text(std::move(text))
{ }

KvNetWorkError KvNetWorkError::msg(std::string text)
{
    return KvNetWorkError(Kind::msg, std::move(text));
}

KvNetWorkError KvNetWorkError::invalidHost()
{
    return KvNetWorkError(Kind::invalidHost, {});
}

KvNetWorkError KvNetWorkError::dataAnalysis()
{
    return KvNetWorkError(Kind::dataAnalysis, {});
}

std::string KvNetWorkError::localizedDescription() const
{
    switch (m_kind) {
    case Kind::msg:
        return m_text;
    case Kind::invalidHost:
        return "无效的根域名";
    case Kind::dataAnalysis:
        return "数据解析失败";
    }
    return {};
}

bool KvNetWorkError::isSessionExpired() const
{
    return m_kind == Kind::msg && m_text.starts_with("[40101]");
}

std::optional<NetWorkTool::SentRequest> NetWorkTool::buildRequest(
    const std::string &path,
    HTTPMethod method,
    const std::optional<Parameters> &parameters,
    BaseUrlPolicy policy,
    SuccessHandler success,
    FailureHandler failure,
    std::shared_ptr<SingleDelivery> delivery)
{
    auto base = pickBaseUrl(policy);
    if (!base)
        return std::nullopt;
    const bool once = delivery != nullptr;
    const auto headers = requestHeaders(storedToken(), Platform::Bundle::main().shortVersion());
    auto request = SessionManager::defaultManager().request(composeUrl(*base, path),
                                                            method,
                                                            parameters,
                                                            JSONEncoding::defaultEncoding(),
                                                            headers,
                                                            std::move(delivery));
    std::weak_ptr<DataRequest> exchange = request;
    request->responseJSON({.allowFragments = true},
                          [success = std::move(success),
                           failure = std::move(failure),
                           once,
                           exchange](const DataResponse &response) {
                              const auto sent = exchange.lock();
                              const bool delivered = once && sent && sent->wasSent();
                              handleResponse(response,
                                             delivered ? withoutMovingOn(failure, response)
                                                       : failure,
                                             KvApi::successCode,
                                             success);
                          });
    return SentRequest{*base, std::move(request)};
}

bool BaseUrlPolicy::hasTried(const std::string &base) const
{
    return m_tried && std::find(m_tried->begin(), m_tried->end(), base) != m_tried->end();
}

std::vector<std::string> BaseUrlPolicy::candidates() const
{
    switch (m_kind) {
    case Kind::builtinRotation:
        return KvApi::builtinBaseUrls();
    case Kind::listRotation:
        return NetWorkTool::baseUrlList();
    case Kind::lastBaseOnly:
        break;
    }
    return {};
}

std::optional<std::string> NetWorkTool::nextBaseUrl(BaseUrlPolicy policy)
{
    const auto pinned = UserDefaults::standard().string(UserDefaultsCacheKeys::lastOkHost);
    if (pinned && !Platform::Text::isBlank(*pinned) && !policy.hasTried(*pinned))
        return pinned;
    if (policy.kind() == BaseUrlPolicy::Kind::lastBaseOnly || !policy.counter())
        return std::nullopt;

    const int counter = *policy.counter();
    const auto candidates = policy.candidates();
    const std::size_t first = counter >= 0 && std::size_t(counter) < candidates.size()
                                  ? std::size_t(counter)
                                  : 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::string &candidate = candidates[(first + i) % candidates.size()];
        if (!policy.hasTried(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> NetWorkTool::pickBaseUrl(BaseUrlPolicy policy)
{
    if (auto base = nextBaseUrl(policy))
        return base;
    if (policy.kind() == BaseUrlPolicy::Kind::lastBaseOnly || !policy.counter())
        return std::nullopt;
    // Every base has been tried: start from the top next time.
    UserDefaults defaults = UserDefaults::standard();
    const auto pinned = defaults.string(UserDefaultsCacheKeys::lastOkHost);
    if (pinned && !Platform::Text::isBlank(*pinned) && policy.hasTried(*pinned))
        defaults.remove(UserDefaultsCacheKeys::lastOkHost);
    *policy.counter() = 0;
    return std::nullopt;
}

std::vector<std::string> NetWorkTool::baseUrlList()
{
    std::vector<std::string> stored;
    if (const auto list = UserDefaults::standard().list(UserDefaultsCacheKeys::backupUrls)) {
        for (const auto &element : *list) {
            if (!element.is_string()) {
                stored.clear();
                break;
            }
            if (!Platform::Text::isBlank(element.get<std::string>()))
                stored.push_back(element.get<std::string>());
        }
    }
    if (stored.empty())
        return KvApi::builtinBaseUrls();
    for (const auto &builtin : KvApi::builtinBaseUrls()) {
        if (std::find(stored.begin(), stored.end(), builtin) == stored.end())
            stored.push_back(builtin);
    }
    return stored;
}

std::string NetWorkTool::composeUrl(const std::string &base, const std::string &path)
{
    return (base.starts_with("http") ? base : "http://" + base) + path;
}

HTTPHeaders NetWorkTool::requestHeaders(const std::optional<std::string> &token,
                                        const std::optional<std::string> &shortVersion)
{
    HTTPHeaders headers;
    if (token && !Platform::Text::hasControlCharacter(*token)) {
        headers["token"] = *token;
        headers["authorization"] = *token;
    }
    if (shortVersion && !Platform::Text::hasControlCharacter(*shortVersion)) {
        std::string version = *shortVersion;
        std::erase(version, '.');
        headers["version"] = version;
    }
    return headers;
}

std::optional<std::string> NetWorkTool::storedToken()
{
    auto token = UserDefaults::standard().string(UserDefaultsCacheKeys::apiToken);
    if (token && Platform::Text::hasControlCharacter(*token))
        return std::nullopt;
    return token;
}

void NetWorkTool::handleResponse(const DataResponse &response,
                                 const FailureHandler &failure,
                                 int successCode,
                                 const SuccessHandler &success)
{
    Platform::Log::print(response.debugDescription());
    const auto fail = [&failure](const KvNetWorkError &error) {
        if (failure)
            failure(error);
    };

    if (const ResponseError *error = response.error()) {
        // A base that cannot be reached at all, or is no URL, is one to move on from.
        const auto *transport = std::get_if<URLError>(error);
        const auto *layer = std::get_if<AFError>(error);
        if ((transport && !transport->responseArrived())
            || (layer && layer->kind() == AFError::Kind::invalidURL))
            fail(KvNetWorkError::invalidHost());
        else
            fail(KvNetWorkError::msg(localizedDescription(*error)));
        return;
    }

    const nlohmann::json &envelope = *response.value();
    if (!envelope.is_object()) {
        fail(KvNetWorkError::dataAnalysis());
        return;
    }
    const auto code = envelope.find("code");
    const bool integerCode = code != envelope.end() && code->is_number_integer();
    if (integerCode && *code == successCode) {
        if (success) {
            const auto data = envelope.find("data");
            success(data == envelope.end() ? nlohmann::json("") : *data);
        }
        return;
    }
    const auto message = envelope.find("msg");
    const std::string text = message != envelope.end() && message->is_string()
                                 ? message->get<std::string>()
                                 : std::string();
    fail(KvNetWorkError::msg(text));
    if (integerCode && *code == KvApi::sessionExpiredCode && sentWithStoredToken(response.request)) {
        clearSession();
        fail(KvNetWorkError::msg("[40101]" + text));
    }
}

std::string NetWorkTool::deviceId()
{
    UserDefaults defaults = UserDefaults::standard();
    if (auto stored = defaults.string(UserDefaultsCacheKeys::deviceId); stored && !stored->empty())
        return *stored;
    if (auto kept = WvKeyChain::loadString(UserDefaultsCacheKeys::deviceId))
        return *kept;
    const std::string identifier = std::string(ClientPlatform::name) + "-" + Platform::makeUuid();
    defaults.set(UserDefaultsCacheKeys::deviceId, identifier);
    WvKeyChain::saveString(UserDefaultsCacheKeys::deviceId, identifier);
    return identifier;
}

void NetWorkTool::clearSession()
{
    UserDefaults defaults = UserDefaults::standard();
    for (const char *key : {UserDefaultsCacheKeys::userInfo,
                            UserDefaultsCacheKeys::userAccount,
                            UserDefaultsCacheKeys::apiToken,
                            UserDefaultsCacheKeys::subscribeUuid,
                            UserDefaultsCacheKeys::subscribeEnd,
                            UserDefaultsCacheKeys::subNodes,
                            UserDefaultsCacheKeys::serverId,
                            UserDefaultsCacheKeys::lastAmount})
        defaults.remove(key);
}

void NetWorkTool::openInBrowser(const std::string &url)
{
    if (!isHttpURL(url)) {
        Platform::Log::system(Platform::LogLevel::Error,
                              logCategory,
                              "not opening a page that is no http or https URL");
        return;
    }
    Platform::Workspace::openURL(url, [](bool opened) {
        if (opened)
            Platform::Log::system(Platform::LogLevel::Default,
                                  logCategory,
                                  "default browser was successfully opened");
    });
}

std::string NetWorkTool::convertDateString(const std::string &serverTime, const std::string &pattern)
{
    auto date = Platform::DateFormat::parseInternetDateTime(serverTime, true);
    if (!date)
        date = Platform::DateFormat::parseInternetDateTime(serverTime, false);
    if (!date)
        date = Platform::DateFormat::parse(serverTime, "yyyy-MM-dd'T'HH:mm:ssXXXXX");
    return date ? formatDate(*date, pattern) : std::string();
}

std::string NetWorkTool::formatDate(Platform::DateFormat::TimePoint date, const std::string &pattern)
{
    return Platform::DateFormat::format(date, pattern);
}

std::optional<int> NetWorkTool::daysBetween(const std::string &from, const std::string &to)
{
    const auto first = Platform::DateFormat::dayNumber(from);
    const auto second = Platform::DateFormat::dayNumber(to);
    if (!first || !second)
        return std::nullopt;
    return int(*second - *first);
}

std::optional<int> NetWorkTool::daysFromToday(const std::string &date)
{
    return daysBetween(formatDate(Platform::DateFormat::now(), "yyyy-MM-dd"), date);
}
