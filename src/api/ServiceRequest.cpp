#include "ServiceRequest.h"

#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"

#include "platform/Dispatch.h"

namespace {

struct Attempt
{
    ServiceRequest::Call call;
    std::weak_ptr<int> counter;
    ServiceRequest::Completion completion;
    ServiceRequest::FailureObserver observer;
    std::string base;
    bool usedPinnedBase = false;
    bool sessionExpired = false;
};

bool rotates(BaseUrlPolicy::Kind policy)
{
    return policy != BaseUrlPolicy::Kind::lastBaseOnly;
}

void finish(const std::shared_ptr<Attempt> &attempt, ServiceRequest::Outcome outcome)
{
    Platform::mainQueue().async([attempt, outcome = std::move(outcome)] {
        if (attempt->counter.expired())
            return;
        if (attempt->completion)
            attempt->completion(outcome);
    });
}

bool sendAttempt(const std::shared_ptr<Attempt> &attempt);

void failedOver(const std::shared_ptr<Attempt> &attempt)
{
    auto counter = attempt->counter.lock();
    if (!counter)
        return;
    UserDefaults::standard().remove(UserDefaultsCacheKeys::lastOkHost);
    // A pinned base that stopped answering is dropped first; the list starts where it was.
    if (!attempt->usedPinnedBase)
        ++*counter;
    auto next = std::make_shared<Attempt>(*attempt);
    next->sessionExpired = false;
    sendAttempt(next);
}

bool sendAttempt(const std::shared_ptr<Attempt> &attempt)
{
    auto counter = attempt->counter.lock();
    if (!counter)
        return false;
    int &count = *counter;
    const BaseUrlPolicy policy = attempt->call.policy == BaseUrlPolicy::Kind::builtinRotation
                                     ? BaseUrlPolicy::builtinRotation(count)
                                 : attempt->call.policy == BaseUrlPolicy::Kind::listRotation
                                     ? BaseUrlPolicy::listRotation(count)
                                     : BaseUrlPolicy::lastBaseOnly();
    const auto pinned = UserDefaults::standard().string(UserDefaultsCacheKeys::lastOkHost);

    auto success = [attempt](const nlohmann::json &data) {
        if (rotates(attempt->call.policy))
            UserDefaults::standard().set(UserDefaultsCacheKeys::lastOkHost, attempt->base);
        finish(attempt, {ServiceRequest::Outcome::Kind::succeeded, data, std::nullopt});
    };
    auto failure = [attempt](const KvNetWorkError &error) {
        if (attempt->observer)
            attempt->observer(error, attempt->base);
        if (error.kind() == KvNetWorkError::Kind::invalidHost && rotates(attempt->call.policy)) {
            Platform::mainQueue().async([attempt] { failedOver(attempt); });
            return;
        }
        // handleResponse reports an expired sign-in twice in a row: act on the second report.
        if (error.isSessionExpired())
            attempt->sessionExpired = true;
        Platform::mainQueue().async([attempt, error] {
            if (attempt->sessionExpired && !error.isSessionExpired())
                return;
            finish(attempt, {ServiceRequest::Outcome::Kind::failed, nullptr, error});
        });
    };

    const auto base = NetWorkTool::buildRequest(attempt->call.path,
                                                attempt->call.method,
                                                attempt->call.parameters,
                                                policy,
                                                std::move(success),
                                                std::move(failure));
    if (!base) {
        finish(attempt, {ServiceRequest::Outcome::Kind::exhausted, nullptr, std::nullopt});
        return false;
    }
    attempt->base = *base;
    attempt->usedPinnedBase = pinned == base;
    return true;
}

} // namespace

bool ServiceRequest::send(Call call,
                          std::weak_ptr<int> counter,
                          Completion completion,
                          FailureObserver observer)
{
    auto attempt = std::make_shared<Attempt>();
    attempt->call = std::move(call);
    attempt->counter = std::move(counter);
    attempt->completion = std::move(completion);
    attempt->observer = std::move(observer);
    return sendAttempt(attempt);
}
