// How long a request waits for a working base URL behind three base URLs that are blocked: ones
// that accept the connection and never answer, ones whose handshake is dropped, and refused ones.
// Each is measured twice in one run: racing the bases with the request layer's head start, and
// one base at a time (a head start longer than any exchange), as the request layer did before.

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
constexpr const char oneAtATime[] = "3600000"; // a head start of an hour: no racing

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
    queue.runInRealTime([&] { return done; }, 600);
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

    struct Figures
    {
        double afterSilent = -1;
        double afterDropped = -1;
        double afterRefused = -1; // the median
        int silentConnections = 0;
        std::size_t silentBytes = 0;
    };
    const auto measure = [&](const char *headStartMilliseconds) {
        if (headStartMilliseconds)
            ::setenv("ORVANE_HEAD_START_MS", headStartMilliseconds, 1);
        else
            ::unsetenv("ORVANE_HEAD_START_MS");
        Figures figures;
        std::vector<std::unique_ptr<SilentServer>> silent;
        figures.afterSilent = secondsToAnswer(queue, threeOf(silent), working.origin());
        for (const auto &server : silent) {
            figures.silentConnections += server->connections();
            figures.silentBytes += server->bytesReceived();
        }
        std::vector<std::unique_ptr<DroppingPort>> dropping;
        figures.afterDropped = secondsToAnswer(queue, threeOf(dropping), working.origin());
        std::vector<double> afterRefused;
        for (int round = 0; round < refusedRounds; ++round) {
            const std::string refused = "http://127.0.0.1:" + std::to_string(refusedPort());
            afterRefused.push_back(
                secondsToAnswer(queue, {refused, refused, refused}, working.origin()));
        }
        std::sort(afterRefused.begin(), afterRefused.end());
        figures.afterRefused = afterRefused.front() < 0 ? -1 : afterRefused[refusedRounds / 2];
        return figures;
    };
    const Figures racing = measure(nullptr);
    const Figures serial = measure(oneAtATime);

    std::printf("a working fourth base behind three blocked ones (racing, then one at a time):\n");
    for (const auto &[name, figures] : {std::pair{"racing", racing}, std::pair{"serial", serial}}) {
        std::printf("  %s behind silent bases     %9.3f s\n", name, figures.afterSilent);
        std::printf("  %s behind dropping bases   %9.3f s\n", name, figures.afterDropped);
        std::printf("  %s behind refusing bases   %9.3f s (median of %d)\n",
                    name,
                    figures.afterRefused,
                    refusedRounds);
        std::printf("  %s: the silent bases took %d connections and %zu bytes of requests\n",
                    name,
                    figures.silentConnections,
                    figures.silentBytes);
    }

    Platform::installMainQueue(nullptr);
    std::filesystem::remove_all(home);
    for (const Figures &figures : {racing, serial}) {
        if (figures.afterSilent < 0 || figures.afterDropped < 0 || figures.afterRefused < 0)
            return 1;
    }
    return 0;
}
