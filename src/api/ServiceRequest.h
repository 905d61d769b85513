#pragma once

#include "NetWorkTool.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// One logical call of the service, with the continuations every screen wraps around
// buildRequest: the base that answers is pinned, and an unreachable base is dropped for the next
// one (a failed pinned base first, without moving the counter). The call tries every base of its
// policy once before it reports exhaustion, whatever other calls do meanwhile. The caller hears
// exactly one outcome, on the main queue; an expired sign-in, which handleResponse reports twice,
// reaches it once, as its "[40101]" report.
//
// Blocked hosts often neither refuse nor answer, so a base is not waited on alone: when it has
// not begun to answer after the head start, the call goes on to the next base as well, and so on
// down the list. The first complete answer is the call's; the other exchanges are cancelled and
// leave nothing behind. A call that must not reach two servers races only for a connection: it
// is sent on the first one up, the others are closed before they send a byte, and once sent it
// is not sent anywhere else.
class ServiceRequest
{
public:
    struct Outcome
    {
        enum class Kind {
            succeeded, // data holds the envelope's "data"
            exhausted, // every base of the policy was tried; nothing was sent this time
            failed,    // error holds why (never invalidHost for the rotating policies)
            outdated,  // the user signed out or in again meanwhile: the answer is not theirs
        };

        Kind kind = Kind::exhausted;
        nlohmann::json data;
        std::optional<KvNetWorkError> error;
    };

    using Completion = std::function<void(const Outcome &outcome)>;
    // Hears every failure as it comes, before the request moves on, with the base it used.
    using FailureObserver = std::function<void(const KvNetWorkError &error, const std::string &base)>;

    struct Call
    {
        std::string path;
        HTTPMethod method = HTTPMethod::get;
        std::optional<Parameters> parameters;
        BaseUrlPolicy::Kind policy = BaseUrlPolicy::Kind::lastBaseOnly;
        // The answer belongs to the signed-in user: it is outdated once the stored token is
        // another than the one it was asked with.
        bool forTheUser = false;
        // A call other than a GET that may still reach two servers, as signing in may: doing it
        // twice changes nothing.
        bool mayRepeat = false;
    };

    // How long a base may take to begin answering (to connect, for calls that must not be
    // repeated) before the next one is tried as well: 1.5 s, or ORVANE_HEAD_START_MS, a whole
    // number of milliseconds (benchmarks make it longer than any exchange to go one by one).
    static double headStartSeconds();

    // counter is the screen's failover counter (lastBaseOnly reads none) and stands for the
    // screen's life: once it has gone, nothing more is sent or reported. Returns whether a
    // request was sent.
    static bool send(Call call,
                     std::weak_ptr<int> counter,
                     Completion completion,
                     FailureObserver observer = {});
};
