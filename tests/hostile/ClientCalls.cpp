#include "ClientCalls.h"

#include "api/NodeLists.h"

#include <gtest/gtest.h>

namespace {

constexpr const char publicSettingFailure[] = "toast:信息加载失败:";
constexpr const char publicSettingIgnored[] = "错误的数据格式";

std::string reported(const std::optional<KvNetWorkError> &error)
{
    return error ? "failed:" + error->localizedDescription() : "succeeded";
}

std::string reported(const ServiceRequest::Outcome &outcome)
{
    switch (outcome.kind) {
    case ServiceRequest::Outcome::Kind::succeeded:
        return "succeeded";
    case ServiceRequest::Outcome::Kind::failed:
        return reported(outcome.error);
    case ServiceRequest::Outcome::Kind::outdated:
        return "outdated";
    case ServiceRequest::Outcome::Kind::exhausted:
        break;
    }
    return "exhausted";
}

} // namespace

ClientCalls::ClientCalls(Platform::ManualMainQueue &queue,
                         const LogRecorder &log,
                         RecordingConsoleScreen &screen)
    : m_queue(queue)
    , m_log(log)
    , m_screen(screen)
    , m_console(screen)
{ }

std::string ClientCalls::run(Endpoint endpoint)
{
    return runTogether({endpoint}).front();
}

std::vector<std::string> ClientCalls::runTogether(const std::vector<Endpoint> &endpoints)
{
    std::vector<std::shared_ptr<Call>> calls;
    for (const Endpoint endpoint : endpoints)
        calls.push_back(start(endpoint));
    const auto allFinished = [&] {
        for (const auto &call : calls) {
            if (!finished(*call))
                return false;
        }
        return true;
    };
    const bool done = m_queue.runUntil(allFinished, capSeconds);
    m_queue.runUntilIdle();
    std::vector<std::string> reports;
    for (const auto &call : calls) {
        EXPECT_TRUE(done && call->report) << name(call->endpoint) << " did not finish";
        reports.push_back(call->report.value_or("unfinished"));
    }
    return reports;
}

std::string ClientCalls::runFromConsole(Endpoint endpoint)
{
    const std::size_t before = m_log.printed().size();
    if (endpoint == Endpoint::nodeNames)
        m_console.loadNodeNames();
    else
        m_console.loadSubscribeNodeList();
    const bool done = m_queue.runUntil([&] { return handled(path(endpoint), before) > 0; },
                                       capSeconds);
    m_queue.runUntilIdle();
    EXPECT_TRUE(done) << name(endpoint) << " did not finish";
    const auto lines = m_log.printed();
    for (std::size_t i = before; i < lines.size(); ++i) {
        if (lines[i].starts_with("error:"))
            return "failed:" + lines[i].substr(6);
    }
    return done ? "finished" : "unfinished";
}

std::shared_ptr<ClientCalls::Call> ClientCalls::start(Endpoint endpoint)
{
    auto call = std::make_shared<Call>(
        Call{endpoint, m_log.printed().size(), m_screen.events.size(), std::nullopt});
    // Every call completes once at most.
    const auto complete = [call](const std::string &report) {
        EXPECT_FALSE(call->report) << name(call->endpoint) << " completed again: " << report;
        call->report = report;
    };
    const auto whenDone = [complete](const ServiceRequest::Outcome &outcome) {
        complete(reported(outcome));
    };
    const auto nodeListDone = [complete](const std::optional<NodeLists::Names> &names,
                                         const std::optional<KvNetWorkError> &error) {
        if (error)
            complete(reported(error));
        else if (names)
            complete("names:" + nlohmann::json(*names).dump());
        else
            complete("ignored");
    };
    const auto signIns = [this]() -> SignInRequests & {
        return *m_signIns.emplace_back(std::make_unique<SignInRequests>());
    };

    switch (endpoint) {
    case Endpoint::login:
        signIns().login("someone@orvane.test", "secret-1", whenDone);
        break;
    case Endpoint::registerAccount:
        signIns().registerAccount("someone@orvane.test", "123456", "secret-1", whenDone);
        break;
    case Endpoint::resetPassword:
        signIns().resetPassword("someone@orvane.test", "123456", "secret-1", whenDone);
        break;
    case Endpoint::emailCode:
        signIns().requestEmailCode("someone@orvane.test",
                                   SignInRequests::CodePurpose::registration,
                                   whenDone);
        break;
    case Endpoint::userInfo:
        m_console.loadUserInfo(
            [complete](const std::optional<KvNetWorkError> &error) { complete(reported(error)); });
        break;
    case Endpoint::publicSetting:
        m_console.loadPublicSetting();
        break;
    case Endpoint::serviceList:
        m_console.loadServiceInfo([complete](bool ok, const std::string &message) {
            complete(ok ? "succeeded" : "failed:" + message);
        });
        break;
    case Endpoint::nodeNames:
        if (!NodeLists::loadNodeNames(m_nodeListOwner, nodeListDone))
            call->report = "not sent";
        break;
    case Endpoint::subscribeNodeList:
        if (!NodeLists::loadSubscribeNodeList(m_nodeListOwner, nodeListDone))
            call->report = "not sent";
        break;
    }
    return call;
}

bool ClientCalls::finished(Call &call) const
{
    if (call.endpoint != Endpoint::publicSetting || call.report)
        return call.report.has_value();

    // The public settings end in a toast, a log line, or the two calls they start.
    for (std::size_t i = call.screenBefore; i < m_screen.events.size(); ++i) {
        if (m_screen.events[i].starts_with(publicSettingFailure)) {
            call.report = "failed:" + m_screen.events[i].substr(sizeof publicSettingFailure - 1);
            return true;
        }
    }
    const auto lines = m_log.printed();
    for (std::size_t i = call.logBefore; i < lines.size(); ++i) {
        if (lines[i] == publicSettingIgnored) {
            call.report = "ignored";
            return true;
        }
    }
    if (handled(path(Endpoint::userInfo), call.logBefore) > 0
        && handled(path(Endpoint::nodeNames), call.logBefore) > 0)
        call.report = "succeeded";
    return call.report.has_value();
}

int ClientCalls::handled(const std::string &path, std::size_t since) const
{
    // handleResponse logs every answer it interprets, starting with the request's method and URL.
    const auto lines = m_log.printed();
    int count = 0;
    for (std::size_t i = since; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        const std::string first = line.substr(0, line.find('\n'));
        if (first.starts_with("[Request]: ") && first.find(path) != std::string::npos)
            ++count;
    }
    return count;
}
