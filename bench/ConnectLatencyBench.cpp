// How long the console takes from the start control to a connected tunnel, and back to its idle
// view when the provider process dies. Everything is real but the screen: the console on Qt's
// offscreen platform with the application's main queue, the tunnel manager on this system's VPN
// service, the reference provider from its fixture bundle, and the development backend on
// loopback, all inside a throwaway home. Last, the same console starts signed in behind silent
// built-in base URLs, with the working one after them in the service's list, and connects at once.
//   connect_latency_bench [--log]    (--log: the client's log lines on stderr, with their times)

#include "DevBackend.h"
#include "support/LoopbackServer.h"
#include "support/ProviderProcesses.h"

#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "api/UserInfo.h"
#include "console/ConsoleHomeView.h"
#include "console/NodesInfoVC.h"
#include "pages/ImageLibrary.h"
#include "platform/Log.h"
#include "platform/SystemExtensions.h"
#include "platform/SystemVPNService.h"
#include "shell/QtMainQueue.h"
#include "tunnel/VPNTunnelManager.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int runs = 10;
constexpr int connectTag = 1000;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The client logs every step; the lines would bury the results unless asked for (--log), and
// then each comes with the milliseconds since the bench started, to see where the time goes.
class BenchSink final : public Platform::LogSink
{
public:
    explicit BenchSink(bool show)
        : m_show(show)
    { }

    void standardOutput(std::string_view line) override { show(line); }
    void systemLog(Platform::LogLevel, std::string_view category, std::string_view message) override
    {
        show(std::string(category) + ": " + std::string(message));
    }

private:
    void show(std::string_view line)
    {
        if (m_show)
            std::fprintf(stderr,
                         "%9.2f %.*s\n",
                         milliseconds(Clock::now() - m_start),
                         int(line.size()),
                         line.data());
    }

    bool m_show;
    Clock::time_point m_start = Clock::now();
};

// HOME and the XDG directories in a new temporary directory, set before anything reads them.
std::filesystem::path makeThrowawayHome()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-connect-XXXXXX").string();
    const std::filesystem::path home = ::mkdtemp(pattern.data());
    for (const char *directory : {"config", "data", "runtime"})
        std::filesystem::create_directory(home / directory);
    ::chmod((home / "runtime").c_str(), 0700);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    return home;
}

void pointClientAt(const DevBackend &backend)
{
    const std::string origin = backend.baseUrl();
    ::setenv("ORVANE_API_BASE_URLS", (origin + " " + origin + " " + origin).c_str(), 1);
    for (const char *variable :
         {"ORVANE_TUNNEL_HOST_URL", "ORVANE_PAYMENT_ORIGIN", "ORVANE_OFFICIAL_SITE_ORIGIN"})
        ::setenv(variable, origin.c_str(), 1);
    ::setenv("ORVANE_SERVICE_CHAT_URL", (origin + "/service/chat.html").c_str(), 1);
}

// Stores the token of a sign-in, as a returning user has it; the console loads the rest.
bool signIn(const DevBackend &backend)
{
    httplib::Client client(backend.baseUrl());
    const nlohmann::json body = {{"user_name", "demo@orvane.test"},
                                 {"password", "demo123456"},
                                 {"email_code", ""},
                                 {"device_id", "Linux-BENCH"}};
    const auto result = client.Post("/api/public/user/login", body.dump(), "application/json");
    if (!result || result->status != 200)
        return false;
    const auto reply = nlohmann::json::parse(result->body, nullptr, false);
    if (!reply.contains("data") || !reply["data"].contains("token"))
        return false;
    UserDefaults::standard().set(UserDefaultsCacheKeys::apiToken,
                                 reply["data"]["token"].get<std::string>());
    return true;
}

// Runs Qt's event loop until the condition holds; false after the cap.
bool runUntil(const std::function<bool()> &condition, double capSeconds = 20)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(int(capSeconds * 1000));
    QTimer wake; // the loop sleeps until an event comes; this one comes often enough to give up
    wake.start(50);
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The console and the tunnel manager wired as the application delegate wires them, with the
// moment the console first reaches an awaited status taken inside the status callback.
class Rig
{
public:
    explicit Rig(const Platform::SystemVPNService::Paths &paths)
        : m_installed(paths.installedExtensions)
        , m_tunnel(VPNTunnelManager::create(
              {std::make_shared<Platform::SystemVPNService>(paths),
               std::make_shared<Platform::LocalSystemExtensionManager>(ORVANE_REFERENCE_BUNDLE_DIR,
                                                                       paths.installedExtensions),
               ORVANE_REFERENCE_BUNDLE_DIR,
               true}))
        , m_console(*m_tunnel)
    {
        m_tunnel->setOnVpnStatusChange([this](int status) {
            m_console.onVpnStatusChange(status);
            if (m_awaited && m_console.lastVpnStatus() == *m_awaited && !m_reachedAt)
                m_reachedAt = Clock::now();
        });
        m_console.show();
    }

    ~Rig()
    {
        m_tunnel->setOnVpnStatusChange({});
        for (const pid_t pid : processesRunningFrom(m_installed))
            ::kill(pid, SIGKILL);
    }

    // Signed in, with the service and its nodes loaded, as when the home view has settled.
    bool settle()
    {
        return runUntil([] {
            return UserInfo::stored()
                   && UserDefaults::standard().value(UserDefaultsCacheKeys::subNodes);
        });
    }

    // Milliseconds from the action to the console's first report of the status; negative when
    // it never came.
    double timeUntil(int status, const std::function<void()> &action)
    {
        m_awaited = status;
        m_reachedAt.reset();
        const auto start = Clock::now();
        action();
        const bool reached = runUntil([this] { return m_reachedAt.has_value(); });
        m_awaited.reset();
        return reached ? milliseconds(*m_reachedAt - start) : -1;
    }

    double connect()
    {
        return timeUntil(Platform::VPNStatus::connected,
                         [this] { m_console.onTapButtonWithSender(connectTag); });
    }

    double disconnect()
    {
        const double elapsed = timeUntil(Platform::VPNStatus::disconnected,
                                         [this] { m_console.onTapButtonWithSender(connectTag); });
        // The provider exits once it has said so; the next run must not find it.
        runUntil([this] { return processesRunningFrom(m_installed).empty(); });
        return elapsed;
    }

    // Kills the one provider; the time until the console shows its idle view again.
    double killProvider()
    {
        const auto providers = processesRunningFrom(m_installed);
        if (providers.size() != 1)
            return -1;
        const double elapsed = timeUntil(Platform::VPNStatus::disconnected,
                                         [&] { ::kill(providers.front(), SIGKILL); });
        const bool idle = m_console.mainWorkView()->startProxyButton()->isVisible();
        runUntil([this] { return processesRunningFrom(m_installed).empty(); });
        return idle ? elapsed : -1;
    }

private:
    std::filesystem::path m_installed;
    std::shared_ptr<VPNTunnelManager> m_tunnel;
    NodesInfoVC m_console;
    std::optional<int> m_awaited;
    std::optional<Clock::time_point> m_reachedAt;
};

// Seconds from the console's first appearance to connected, signed in, when the pinned base and
// the built-ins take connections and never answer and the working base comes after them in the
// service's list; negative when it did not connect through the working base.
double behindSilentBases(const Platform::SystemVPNService::Paths &paths, const DevBackend &backend)
{
    SilentServer silent[3];
    ::setenv("ORVANE_API_BASE_URLS",
             (silent[0].origin() + " " + silent[1].origin() + " " + silent[2].origin()).c_str(),
             1);
    UserDefaults defaults = UserDefaults::standard();
    defaults.set(UserDefaultsCacheKeys::backupUrls,
                 std::vector<std::string>{silent[0].origin(),
                                          silent[1].origin(),
                                          silent[2].origin(),
                                          backend.baseUrl()});
    defaults.set(UserDefaultsCacheKeys::lastOkHost, silent[0].origin());
    // What a connect needs from the service; the user record stays, as a signed-in user has it.
    defaults.remove(UserDefaultsCacheKeys::subNodes);
    defaults.remove(UserDefaultsCacheKeys::serverId);

    const auto start = Clock::now();
    Rig rig(paths);
    const double connect = rig.connect();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool throughTheWorkingBase = defaults.string(UserDefaultsCacheKeys::lastOkHost)
                                       == backend.baseUrl();
    rig.disconnect();
    pointClientAt(backend);
    return connect >= 0 && throughTheWorkingBase ? seconds : -1;
}

void printFigure(const char *name, const std::vector<double> &values)
{
    if (values.empty())
        return;
    std::printf("%s: median %.1f ms, min %.1f, max %.1f, runs %zu\n",
                name,
                median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()),
                values.size());
}

// Collects a run's figure; false (after saying why) when the run failed.
bool record(std::vector<double> &into, double value, const char *what, int run)
{
    if (value < 0) {
        std::fprintf(stderr, "connect latency: %s %d did not finish\n", what, run + 1);
        return false;
    }
    into.push_back(value);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::filesystem::path home = makeThrowawayHome();
    // No artificial delay in the provider: it reports connected as soon as it listens.
    ::setenv("ORVANE_PROVIDER_START_DELAY_MS", "0", 1);
    ::setenv("ORVANE_PROVIDER_STOP_DELAY_MS", "0", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");

    BenchSink sink(argc > 1 && std::string_view(argv[1]) == "--log");
    Platform::Log::installSink(&sink);
    QApplication application(argc, argv);
    QtMainQueue mainQueue(&application);
    Platform::installMainQueue(&mainQueue);
    ImageLibrary::setDirectory(std::filesystem::path(ORVANE_BUNDLE_DIR)
                               / "Contents/Resources/images");

    std::ostringstream backendLog;
    int status = 0;
    {
        DevBackend backend({{0}, home / "backend", &backendLog});
        const auto paths = Platform::SystemVPNService::standardPaths();
        if (!backend.start() || !paths) {
            std::fprintf(stderr, "connect latency: no backend: %s\n", backend.error().c_str());
            status = 1;
        } else {
            pointClientAt(backend);
            const bool signedIn = signIn(backend);
            auto rig = std::make_unique<Rig>(*paths);
            if (!signedIn || !rig->settle()) {
                std::fprintf(stderr, "connect latency: the console did not load\n");
                status = 1;
            }
            // The first connect also creates the tunnel's configuration.
            std::vector<double> first, connects, disconnects, kills;
            for (int run = 0; status == 0 && run <= runs; ++run) {
                if (!record(run == 0 ? first : connects, rig->connect(), "connect", run)
                    || !record(disconnects, rig->disconnect(), "disconnect", run))
                    status = 1;
            }
            for (int run = 0; status == 0 && run < runs; ++run) {
                if (!record(connects, rig->connect(), "connect before kill", run)
                    || !record(kills, rig->killProvider(), "kill", run))
                    status = 1;
            }
            printFigure("first connect (creates the configuration)", first);
            printFigure("connect", connects);
            printFigure("disconnect", disconnects);
            printFigure("provider killed to idle view", kills);
            rig.reset(); // one console at a time
            if (status == 0) {
                const double seconds = behindSilentBases(*paths, backend);
                std::printf("behind silent bases: %.3f s from the console's first appearance, "
                            "signed in, to connected\n",
                            seconds);
                status = seconds < 0 ? 1 : 0;
            }
        }
    }
    Platform::installMainQueue(nullptr);
    Platform::Log::installSink(nullptr);
    std::filesystem::remove_all(home);
    return status;
}
