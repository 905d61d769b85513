#include "ConsoleRequests.h"

#include "LogRedaction.h"
#include "NodeLists.h"
#include "QaroShared.h"
#include "ServiceRequest.h"
#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"
#include "UserInfo.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/Text.h"

#include <cstdio>

namespace {

using Outcome = ServiceRequest::Outcome;

constexpr const char listExhausted[] = "加载失败，请稍候重试";

// A JSON integer, signed or unsigned 64-bit, as a number wide enough to subtract safely.
std::optional<long double> integerValue(const nlohmann::json &object, const char *name)
{
    const auto member = object.find(name);
    if (member == object.end() || !member->is_number_integer())
        return std::nullopt;
    if (member->is_number_unsigned())
        return static_cast<long double>(member->get<std::uint64_t>());
    return static_cast<long double>(member->get<std::int64_t>());
}

bool isFalse(const nlohmann::json &object, const char *name)
{
    const auto member = object.find(name);
    return member != object.end() && member->is_boolean() && !member->get<bool>();
}

void logError(const KvNetWorkError &error)
{
    Platform::Log::print("error:" + error.localizedDescription());
}

} // namespace

ConsoleRequests::ConsoleRequests(Screen &screen)
    : m_screen(screen)
{ }

void ConsoleRequests::loadUserInfo(UserInfoCompletion completion)
{
    if (!NetWorkTool::storedToken())
        return;
    ServiceRequest::send(
        {KvApi::userInfoPath, HTTPMethod::get, std::nullopt, BaseUrlPolicy::Kind::listRotation, true},
        m_requsetCount,
        [this, completion = std::move(completion)](const Outcome &outcome) {
            const auto complete = [&completion](const std::optional<KvNetWorkError> &error) {
                if (completion)
                    completion(error);
            };
            switch (outcome.kind) {
            case Outcome::Kind::exhausted:
                complete(KvNetWorkError::msg(listExhausted));
                return;
            case Outcome::Kind::outdated:
                complete(std::nullopt);
                return;
            case Outcome::Kind::succeeded:
                if (outcome.data.is_object())
                    UserInfo::store(
                        UserInfo::fromServerUser(outcome.data, UserInfo::Source::userInfoReply));
                complete(std::nullopt);
                return;
            case Outcome::Kind::failed:
                break;
            }
            const KvNetWorkError &error = *outcome.error;
            if (error.kind() == KvNetWorkError::Kind::msg)
                Platform::Log::print("register.err:" + error.text());
            m_screen.showToast(error.localizedDescription());
            complete(error);
            if (error.isSessionExpired())
                m_screen.stopTunnelIfActive();
        },
        [](const KvNetWorkError &, const std::string &) {});
}

void ConsoleRequests::loadPublicSetting()
{
    ServiceRequest::send(
        {KvApi::publicSettingPath, HTTPMethod::get, std::nullopt, BaseUrlPolicy::Kind::listRotation},
        m_requsetCount,
        [this](const Outcome &outcome) {
            if (outcome.kind == Outcome::Kind::exhausted || outcome.kind == Outcome::Kind::outdated)
                return;
            if (outcome.kind == Outcome::Kind::failed) {
                const KvNetWorkError &error = *outcome.error;
                if (error.kind() == KvNetWorkError::Kind::msg)
                    Platform::Log::print("register.err:" + error.text());
                m_screen.showToast("信息加载失败:" + error.localizedDescription());
                return;
            }
            if (!storePublicSetting(outcome.data)) {
                Platform::Log::print("错误的数据格式");
                return;
            }
            std::weak_ptr<int> alive = m_requsetCount;
            Platform::mainQueue().async([this, alive] {
                if (alive.expired())
                    return;
                loadUserInfo();
                loadNodeNames();
            });
        },
        [](const KvNetWorkError &error, const std::string &) { logError(error); });
}

bool ConsoleRequests::storePublicSetting(const nlohmann::json &data)
{
    if (!data.is_object())
        return false;
    const auto backends = data.find("backend_url");
    if (backends != data.end() && backends->is_string()) {
        // One base URL per line, whichever line breaks the service writes; empty lines are kept
        // as they came.
        UserDefaults::standard().set(UserDefaultsCacheKeys::backupUrls,
                                     Platform::Text::lines(
                                         backends->get_ref<const std::string &>()));
    }
    return true;
}

void ConsoleRequests::loadServiceInfo(ServiceCompletion completion)
{
    ServiceRequest::send(
        {KvApi::serviceListPath,
         HTTPMethod::get,
         std::nullopt,
         BaseUrlPolicy::Kind::listRotation,
         true},
        m_requsetCount,
        [this, completion = std::move(completion)](const Outcome &outcome) {
            switch (outcome.kind) {
            case Outcome::Kind::exhausted:
                completion(false, listExhausted);
                return;
            case Outcome::Kind::outdated:
                completion(false, "");
                return;
            case Outcome::Kind::succeeded:
                handleServiceList(outcome.data, m_screen, completion);
                return;
            case Outcome::Kind::failed:
                break;
            }
            const KvNetWorkError &error = *outcome.error;
            if (error.kind() == KvNetWorkError::Kind::dataAnalysis) {
                completion(false, "数据有误:" + error.localizedDescription());
                return;
            }
            if (error.isSessionExpired()) {
                m_screen.refreshAccountInfo();
                m_screen.stopTunnelIfActive();
            }
            completion(false, error.text());
        },
        [](const KvNetWorkError &error, const std::string &base) {
            logError(error);
            if (error.kind() == KvNetWorkError::Kind::invalidHost)
                Platform::Log::print("invalidHost:" + base);
        });
}

void ConsoleRequests::handleServiceList(const nlohmann::json &data,
                                        Screen &screen,
                                        const ServiceCompletion &completion)
{
    if (!data.is_array() || data.empty() || !data.front().is_object()) {
        completion(false, "未找到订阅服务，请前往订阅");
        return;
    }
    const nlohmann::json &service = data.front();
    UserDefaults defaults = UserDefaults::standard();
    if (const auto id = service.find("id"); id != service.end() && id->is_number_integer())
        defaults.set(UserDefaultsCacheKeys::serverId, *id);

    const auto total = integerValue(service, "total_bandwidth");
    const auto usedUp = integerValue(service, "used_up");
    const auto usedDown = integerValue(service, "used_down");
    if (total && usedUp && usedDown) {
        const std::string text = remainingTrafficText(*total, *usedUp, *usedDown);
        defaults.set(UserDefaultsCacheKeys::lastAmount, text);
        screen.showRemainingTraffic(text);
    }

    if (isFalse(service, "service_status")) {
        screen.stopTunnelIfActive();
        completion(false, "会员已到期，请前往订阅续费！");
        return;
    }
    if (isFalse(service, "sub_status")) {
        screen.stopTunnelIfActive();
        completion(false, "流量已超标，请前往订阅续费！");
        return;
    }
    const auto uuid = service.find("sub_uuid");
    if (uuid == service.end() || !uuid->is_string()) {
        completion(false, "subuuid.is.null");
        return;
    }
    QaroShared::shared().setValue(QaroShared::subUuidKey, uuid->get<std::string>());
    Platform::Log::print("--saveSubUUID:" + Platform::Log::masked(uuid->get<std::string>()));
    completion(true, "");
}

void ConsoleRequests::loadSubscribeNodeList()
{
    NodeLists::loadSubscribeNodeList(m_requsetCount, [](const auto &, const auto &error) {
        if (error)
            logError(*error);
    });
}

void ConsoleRequests::loadNodeNames()
{
    NodeLists::loadNodeNames(m_requsetCount, [](const auto &, const auto &error) {
        if (error)
            logError(*error);
    });
}

std::string ConsoleRequests::remainingTrafficText(long double total,
                                                  long double usedUp,
                                                  long double usedDown)
{
    const long double mebibytes = (total - usedUp - usedDown) / 1024.0L / 1024.0L;
    char text[64];
    if (mebibytes >= 1024)
        std::snprintf(text, sizeof text, "%.1Lf G", mebibytes / 1024.0L);
    else
        std::snprintf(text, sizeof text, "%.1Lf M", mebibytes);
    return text;
}
