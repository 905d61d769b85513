// How long a request waits for a working base URL behind three base URLs that are blocked: ones
// that accept the connection and never answer, ones whose handshake is dropped, and refused ones.
// The request goes down the list one base at a time, as the request layer does today.

#include "api/ServiceRequest.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"

#include "platform/ManualMainQueue.h"

#include "support/LoopbackServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int refusedRounds = 7;

// Seconds from sending a request to its answer from the working base behind the blocked ones;
// a negative figure when it got no answer.
double secondsToAnswer(Platform::ManualMainQueue &queue,
                       const std::vector<std::string> &blocked,
                       const std::string &working)
{
    ::setenv("ORVANE_API_BASE_URLS", (blocked[0] + " " + blocked[1] + " " + blocked[2]).c_str(), 1);
    UserDefaults defaults = UserDefaults::standard();
    defaults.remove(UserDefaultsCacheKeys::lastOkHost);
    // The backup list the service pushed: the blocked built-ins first, then one that works.
    defaults.set(UserDefaultsCacheKeys::backupUrls,
                 std::vector<std::string>{blocked[0], blocked[1], blocked[2], working});
    auto counter = std::make_shared<int>(0);
    bool answered = false;
    bool done = false;
    const auto start = Clock::now();
    ServiceRequest::send({"/api/bench",
                          HTTPMethod::get,
                          std::nullopt,
                          BaseUrlPolicy::Kind::listRotation,
                          false},
                         counter,
                         [&](const ServiceRequest::Outcome &outcome) {
                             answered = outcome.kind == ServiceRequest::Outcome::Kind::succeeded;
                             done = true;
                         });
    queue.runUntil([&] { return done; }, 600);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return answered ? seconds : -1;
}

template<typename Blocked>
std::vector<std::string> threeOf(std::vector<std::unique_ptr<Blocked>> &hosts)
{
    std::vector<std::string> origins;
    for (int i = 0; i < 3; ++i) {
        hosts.push_back(std::make_unique<Blocked>());
        origins.push_back(hosts.back()->origin());
    }
    return origins;
}

} // namespace

int main()
{
    // Preferences stay out of the user's own.
    const auto home = std::filesystem::temp_directory_path() / "orvane-blocked-hosts-bench";
    std::filesystem::create_directories(home);
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("ORVANE_REQUEST_TIMEOUT_MS");

    LoopbackServer working;
    working.server().Get("/api/bench", [](const httplib::Request &, httplib::Response &response) {
        response.set_content(R"({"code":0,"msg":"","data":{}})", "application/json");
    });
    working.start();

    Platform::ManualMainQueue queue;
    Platform::installMainQueue(&queue);

    std::vector<std::unique_ptr<SilentServer>> silent;
    const double afterSilent = secondsToAnswer(queue, threeOf(silent), working.origin());
    std::vector<std::unique_ptr<DroppingPort>> dropping;
    const double afterDropped = secondsToAnswer(queue, threeOf(dropping), working.origin());
    std::vector<double> afterRefused;
    for (int round = 0; round < refusedRounds; ++round) {
        const std::string refused = "http://127.0.0.1:" + std::to_string(refusedPort());
        afterRefused.push_back(
            secondsToAnswer(queue, {refused, refused, refused}, working.origin()));
    }
    std::sort(afterRefused.begin(), afterRefused.end());

    std::printf("a working fourth base behind three blocked ones, one base at a time:\n");
    std::printf("  behind silent bases     %9.3f s\n", afterSilent);
    std::printf("  behind dropping bases   %9.3f s\n", afterDropped);
    std::printf("  behind refusing bases   %9.3f s (median of %d)\n",
                afterRefused[afterRefused.size() / 2],
                refusedRounds);
    std::printf("  the silent bases took %d connections and %zu bytes of requests\n",
                silent[0]->connections() + silent[1]->connections() + silent[2]->connections(),
                silent[0]->bytesReceived() + silent[1]->bytesReceived()
                    + silent[2]->bytesReceived());

    Platform::installMainQueue(nullptr);
    std::filesystem::remove_all(home);
    return afterSilent < 0 || afterDropped < 0 || afterRefused.front() < 0 ? 1 : 0;
}
