#include "ServiceRequest.h"

#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"

#include "platform/Dispatch.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr double defaultHeadStart = 1.5;

// One base tried for a call: its exchange and what it has come to.
struct Leg
{
    std::string base;
    // The session owns the exchange, and the exchange's handlers own the call: a strong
    // reference here would keep both alive when an answer never comes.
    std::weak_ptr<DataRequest> exchange;
    bool usedPinnedBase = false;
    bool begun = false;        // it began to answer, or connected when only that is raced
    bool hasSuccessor = false; // the next base was tried after it already
    std::optional<KvNetWorkError> failure; // the last one reported for its answer
};

// One call of the service, across every base it tries.
struct Attempt
{
    ServiceRequest::Call call;
    std::weak_ptr<int> counter;
    ServiceRequest::Completion completion;
    ServiceRequest::FailureObserver observer;
    std::optional<std::string> token;         // the one the call was made with
    std::shared_ptr<SingleDelivery> delivery; // for a call that must not be repeated
    std::vector<std::string> tried;           // the bases this call has found unreachable
    std::vector<std::shared_ptr<Leg>> running;
    int counterAtStart = 0;
    int furthestFailure = -1; // in the walk down the list from counterAtStart
    bool decided = false;     // one leg's answer (or connection) is the call's
    bool finished = false;
    bool outdated = false; // the answer came when another user, or none, was signed in
};

bool rotates(BaseUrlPolicy::Kind policy)
{
    return policy != BaseUrlPolicy::Kind::lastBaseOnly;
}

bool repeatable(const ServiceRequest::Call &call)
{
    return call.method == HTTPMethod::get || call.mayRepeat;
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

bool isRunning(const Attempt &attempt, const std::shared_ptr<Leg> &leg)
{
    return std::find(attempt.running.begin(), attempt.running.end(), leg) != attempt.running.end();
}

void stopRunning(Attempt &attempt, const std::shared_ptr<Leg> &leg)
{
    std::erase(attempt.running, leg);
}

// This leg's answer, or its connection, is the call's: the others end without a trace.
void decideFor(Attempt &attempt, const std::shared_ptr<Leg> &leg)
{
    if (std::exchange(attempt.decided, true))
        return;
    for (const auto &other : attempt.running) {
        const auto exchange = other->exchange.lock();
        if (other != leg && exchange)
            exchange->cancel();
    }
    attempt.running = {leg};
}

bool sendNext(const std::shared_ptr<Attempt> &attempt);

// The bases this call is not to pick again: those it found unreachable and those it waits on.
std::vector<std::string> notToPick(const Attempt &attempt)
{
    std::vector<std::string> bases = attempt.tried;
    for (const auto &leg : attempt.running)
        bases.push_back(leg->base);
    return bases;
}

void moveCounterPast(Attempt &attempt, int &counter, const std::string &base)
{
    const auto candidates = policyOf(attempt.call.policy, counter).candidates();
    const auto found = std::find(candidates.begin(), candidates.end(), base);
    if (found == candidates.end())
        return;
    const int size = int(candidates.size());
    const int index = int(found - candidates.begin());
    // Legs fail in any order; the counter only moves on past the furthest dead base of the
    // walk, which starts where pickBaseUrl starts it.
    const int start = attempt.counterAtStart < size ? std::max(attempt.counterAtStart, 0) : 0;
    const int step = (index - start + size) % size;
    if (step <= attempt.furthestFailure)
        return;
    attempt.furthestFailure = step;
    counter = (index + 1) % size;
}

void failedOver(const std::shared_ptr<Attempt> &attempt, const std::shared_ptr<Leg> &leg)
{
    auto counter = attempt->counter.lock();
    if (!counter || !isRunning(*attempt, leg))
        return;
    UserDefaults defaults = UserDefaults::standard();
    // Another call may have pinned a working base meanwhile; that one stays.
    if (defaults.string(UserDefaultsCacheKeys::lastOkHost) == leg->base)
        defaults.remove(UserDefaultsCacheKeys::lastOkHost);
    // The screen's next calls start past a dead base of the list; a dead pinned base moves
    // nothing, so the list is tried from where it was.
    if (!leg->usedPinnedBase)
        moveCounterPast(*attempt, *counter, leg->base);
    attempt->tried.push_back(leg->base);
    stopRunning(*attempt, leg);
    if (!std::exchange(leg->hasSuccessor, true) || attempt->running.empty())
        sendNext(attempt);
}

void headStartOver(const std::shared_ptr<Attempt> &attempt, const std::shared_ptr<Leg> &leg)
{
    if (attempt->decided || leg->begun || !isRunning(*attempt, leg)
        || std::exchange(leg->hasSuccessor, true))
        return;
    sendNext(attempt);
}

void began(const std::shared_ptr<Attempt> &attempt,
           const std::shared_ptr<Leg> &leg,
           ExchangeStage stage)
{
    if (!isRunning(*attempt, leg))
        return;
    if (repeatable(attempt->call)) {
        leg->begun = leg->begun || stage == ExchangeStage::answering;
    } else if (stage == ExchangeStage::connected) {
        leg->begun = true;
        decideFor(*attempt, leg);
    }
}

std::shared_ptr<Leg> startLeg(const std::shared_ptr<Attempt> &attempt, int &counter)
{
    auto leg = std::make_shared<Leg>();
    const auto pinned = UserDefaults::standard().string(UserDefaultsCacheKeys::lastOkHost);
    std::weak_ptr<Leg> weakLeg = leg;

    auto success = [attempt, weakLeg](const nlohmann::json &data) {
        const auto leg = weakLeg.lock();
        if (!leg || !isRunning(*attempt, leg))
            return;
        decideFor(*attempt, leg);
        noteArrival(*attempt);
        if (rotates(attempt->call.policy))
            UserDefaults::standard().set(UserDefaultsCacheKeys::lastOkHost, leg->base);
        finish(attempt, {ServiceRequest::Outcome::Kind::succeeded, data, std::nullopt});
    };
    auto failure = [attempt, weakLeg](const KvNetWorkError &error) {
        const auto leg = weakLeg.lock();
        if (!leg || !isRunning(*attempt, leg))
            return;
        if (attempt->observer)
            attempt->observer(error, leg->base);
        if (error.kind() == KvNetWorkError::Kind::invalidHost && rotates(attempt->call.policy)) {
            Platform::mainQueue().async([attempt, leg] { failedOver(attempt, leg); });
            return;
        }
        decideFor(*attempt, leg);
        // handleResponse reports an expired sign-in twice in a row; the later report, which
        // says so, is the outcome.
        const bool first = !leg->failure;
        if (first)
            noteArrival(*attempt);
        leg->failure = error;
        if (first)
            Platform::mainQueue().async([attempt, leg] {
                finish(attempt, {ServiceRequest::Outcome::Kind::failed, nullptr, leg->failure});
            });
    };

    const auto exclude = notToPick(*attempt);
    const BaseUrlPolicy policy = policyOf(attempt->call.policy, counter).skipping(exclude);
    auto sent = NetWorkTool::buildRequest(attempt->call.path,
                                          attempt->call.method,
                                          attempt->call.parameters,
                                          policy,
                                          std::move(success),
                                          std::move(failure),
                                          attempt->delivery);
    if (!sent)
        return nullptr;
    leg->base = std::move(sent->base);
    leg->exchange = sent->exchange;
    leg->usedPinnedBase = pinned == leg->base;
    sent->exchange->onStage([attempt, weakLeg](ExchangeStage stage) {
        if (const auto leg = weakLeg.lock())
            began(attempt, leg, stage);
    });
    attempt->running.push_back(leg);
    Platform::mainQueue().after(ServiceRequest::headStartSeconds(), [attempt, weakLeg] {
        if (const auto leg = weakLeg.lock())
            headStartOver(attempt, leg);
    });
    return leg;
}

// Tries the next base; with none left and nothing to wait for, the call is exhausted.
bool sendNext(const std::shared_ptr<Attempt> &attempt)
{
    auto counter = attempt->counter.lock();
    if (!counter || attempt->decided)
        return false;
    const auto exclude = notToPick(*attempt);
    const BaseUrlPolicy policy = policyOf(attempt->call.policy, *counter).skipping(exclude);
    // Resetting the rotation waits for the last running leg: it may still answer.
    if (!attempt->running.empty() && !NetWorkTool::nextBaseUrl(policy))
        return false;
    if (startLeg(attempt, *counter))
        return true;
    finish(attempt, {ServiceRequest::Outcome::Kind::exhausted, nullptr, std::nullopt});
    return false;
}

} // namespace

double ServiceRequest::headStartSeconds()
{
    if (const char *value = std::getenv("ORVANE_HEAD_START_MS")) {
        char *end = nullptr;
        errno = 0;
        const long long milliseconds = std::strtoll(value, &end, 10);
        if (end != value && *end == '\0' && errno == 0 && milliseconds >= 0)
            return double(milliseconds) / 1000;
    }
    return defaultHeadStart;
}

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
    if (!repeatable(attempt->call))
        attempt->delivery = std::make_shared<SingleDelivery>();
    if (const auto alive = attempt->counter.lock())
        attempt->counterAtStart = *alive;
    return sendNext(attempt);
}
