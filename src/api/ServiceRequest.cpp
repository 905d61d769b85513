#include "ServiceRequest.h"

#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"

#include "platform/Dispatch.h"

#include <algorithm>

namespace {

struct Attempt
{
    ServiceRequest::Call call;
    std::weak_ptr<int> counter;
    ServiceRequest::Completion completion;
    ServiceRequest::FailureObserver observer;
    std::optional<std::string> token; // the one the call was made with
    std::vector<std::string> tried;   // the bases this call has found unreachable
    std::string base;
    bool usedPinnedBase = false;
    bool finished = false;
    bool outdated = false; // the answer came when another user, or none, was signed in
    std::optional<KvNetWorkError> failure; // the last one reported for the current answer
};

bool rotates(BaseUrlPolicy::Kind policy)
{
    return policy != BaseUrlPolicy::Kind::lastBaseOnly;
}

BaseUrlPolicy policyOf(BaseUrlPolicy::Kind kind, int &counter)
{
    switch (kind) {
    case BaseUrlPolicy::Kind::builtinRotation:
        return BaseUrlPolicy::builtinRotation(counter);
    case BaseUrlPolicy::Kind::listRotation:
        return BaseUrlPolicy::listRotation(counter);
    case BaseUrlPolicy::Kind::lastBaseOnly:
        break;
    }
    return BaseUrlPolicy::lastBaseOnly();
}

bool signedInAsAsked(const Attempt &attempt)
{
    return !attempt.call.forTheUser || NetWorkTool::storedToken() == attempt.token;
}

// Judged as the answer arrives: the sign-out that an expired sign-in causes comes after.
void noteArrival(Attempt &attempt)
{
    attempt.outdated = !signedInAsAsked(attempt);
}

void finish(const std::shared_ptr<Attempt> &attempt, ServiceRequest::Outcome outcome)
{
    Platform::mainQueue().async([attempt, outcome = std::move(outcome)]() mutable {
        if (attempt->counter.expired() || std::exchange(attempt->finished, true))
            return;
        // Data is stored only for the user it was asked for, also when they left just now.
        const bool stale = outcome.kind == ServiceRequest::Outcome::Kind::succeeded
                           && !signedInAsAsked(*attempt);
        if (attempt->outdated || stale)
            outcome = {ServiceRequest::Outcome::Kind::outdated, nullptr, std::nullopt};
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
    UserDefaults defaults = UserDefaults::standard();
    // Another call may have pinned a working base meanwhile; that one stays.
    if (defaults.string(UserDefaultsCacheKeys::lastOkHost) == attempt->base)
        defaults.remove(UserDefaultsCacheKeys::lastOkHost);
    // The screen's next calls start past a dead base of the list; a dead pinned base moves
    // nothing, so the list is tried from where it was.
    if (!attempt->usedPinnedBase) {
        const auto candidates = policyOf(attempt->call.policy, *counter).candidates();
        const auto found = std::find(candidates.begin(), candidates.end(), attempt->base);
        if (found != candidates.end())
            *counter = int((found - candidates.begin() + 1) % std::ptrdiff_t(candidates.size()));
    }
    attempt->tried.push_back(attempt->base);
    sendAttempt(attempt);
}

bool sendAttempt(const std::shared_ptr<Attempt> &attempt)
{
    auto counter = attempt->counter.lock();
    if (!counter)
        return false;
    const BaseUrlPolicy policy = policyOf(attempt->call.policy, *counter).skipping(attempt->tried);
    const auto pinned = UserDefaults::standard().string(UserDefaultsCacheKeys::lastOkHost);

    auto success = [attempt](const nlohmann::json &data) {
        noteArrival(*attempt);
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
        // handleResponse reports an expired sign-in twice in a row; the later report, which
        // says so, is the outcome.
        const bool first = !attempt->failure;
        if (first)
            noteArrival(*attempt);
        attempt->failure = error;
        if (first)
            Platform::mainQueue().async([attempt] {
                finish(attempt, {ServiceRequest::Outcome::Kind::failed, nullptr, attempt->failure});
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
    attempt->failure.reset();
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
    attempt->token = NetWorkTool::storedToken();
    return sendAttempt(attempt);
}
