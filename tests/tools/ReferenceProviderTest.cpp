#include "TemporaryHome.h"

#include "platform/PreferenceStore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string Program = ORVANE_REFERENCE_PROVIDER;
const std::string Uuid = "5f0c7d1e-3b2a-4c5d-9e8f-0a1b2c3da1b2";
const std::string MaskedUuid = "5f0c****a1b2";
constexpr auto Cap = 20s;

// Milliseconds left until the deadline, for poll().
int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Waits for fd to become readable; false when the cap passes first.
bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        pollfd descriptor{fd, POLLIN, 0};
        const int ready = ::poll(&descriptor, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}

std::string base64(std::string_view bytes)
{
    static constexpr std::string_view alphabet
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t chunk = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            const auto byte = j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u;
            chunk = (chunk << 8) | byte;
        }
        for (std::size_t j = 0; j < 4; ++j)
            text += j <= count ? alphabet[(chunk >> (18 - 6 * j)) & 0x3f] : '=';
    }
    return text;
}

std::string unbase64(std::string_view text)
{
    static constexpr std::string_view alphabet
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    std::uint32_t chunk = 0;
    int bits = 0;
    for (const char c : text) {
        const auto value = alphabet.find(c);
        if (value == std::string_view::npos)
            break; // padding
        chunk = (chunk << 6) | std::uint32_t(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += char((chunk >> bits) & 0xff);
        }
    }
    return bytes;
}

std::string readFile(const std::filesystem::path &file)
{
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        result.push_back(line);
    return result;
}

// The provider started the way the app starts it: in a session of its own, working directory
// "/", options on standard input, standard output a pipe to the test, standard error /dev/null.
// Killed with its whole process group at destruction, whatever the test did.
class ProviderProcess
{
public:
    // It reads no options, and so does nothing, until giveOptions().
    explicit ProviderProcess(const std::vector<std::string> &arguments)
    {
        int output[2];
        if (::pipe2(m_input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, m_input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addchdir_np(&actions, "/");
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

        std::vector<std::string> strings = {Program};
        strings.insert(strings.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (auto &text : strings)
            argv.push_back(text.data());
        argv.push_back(nullptr);
        const int result
            = ::posix_spawn(&m_pid, Program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(output[1]);
        m_stdout = output[0];
        if (result != 0) {
            closeInput();
            throw std::runtime_error("cannot start the provider: "
                                     + std::string(std::strerror(result)));
        }
        m_pidfd = int(::syscall(SYS_pidfd_open, m_pid, 0));
    }

    ~ProviderProcess()
    {
        closeInput();
        if (!m_status) {
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_pidfd >= 0)
            ::close(m_pidfd);
        ::close(m_stdout);
    }

    ProviderProcess(const ProviderProcess &) = delete;
    ProviderProcess &operator=(const ProviderProcess &) = delete;

    pid_t pid() const { return m_pid; }

    // Writes the options to standard input and closes it. The read end stays open here until
    // then, so the write cannot fail even when the provider has already exited.
    void giveOptions(std::string_view options)
    {
        while (!options.empty()) {
            const ssize_t written = ::write(m_input[1], options.data(), options.size());
            if (written <= 0)
                break;
            options.remove_prefix(std::size_t(written));
        }
        closeInput();
    }

    // Waits until the provider is loaded and blocked reading its options, as its system call
    // in /proc shows, or the cap passes. Where /proc does not show it, it returns at once.
    void waitUntilReadingOptions()
    {
        const std::string reading = std::to_string(SYS_read) + " 0x0 ";
        const auto deadline = std::chrono::steady_clock::now() + Cap;
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream file("/proc/" + std::to_string(m_pid) + "/syscall");
            std::string line;
            if (!std::getline(file, line) || line.starts_with(reading))
                return;
            ::poll(nullptr, 0, 1);
        }
    }

    // Everything written to standard output until it is closed (the provider closes it right
    // after "ready"), or nothing when the cap passes first.
    std::optional<std::string> standardOutput()
    {
        const auto deadline = std::chrono::steady_clock::now() + Cap;
        std::string text;
        for (;;) {
            if (!waitReadable(m_stdout, deadline))
                return std::nullopt;
            char chunk[256];
            const ssize_t count = ::read(m_stdout, chunk, sizeof chunk);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return text;
            text.append(chunk, std::size_t(count));
        }
    }

    // The exit code (-signal when killed), or nothing when the cap passes first.
    std::optional<int> waitForExit()
    {
        if (m_status)
            return m_status;
        if (!waitReadable(m_pidfd, std::chrono::steady_clock::now() + Cap))
            return std::nullopt;
        int status = 0;
        if (::waitpid(m_pid, &status, 0) != m_pid)
            return std::nullopt;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return m_status;
    }

    bool isRunning()
    {
        if (m_status)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
            return true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return false;
    }

private:
    void closeInput()
    {
        for (int &end : m_input) {
            if (end >= 0)
                ::close(end);
            end = -1;
        }
    }

    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_input[2] = {-1, -1};
    int m_stdout = -1;
    std::optional<int> m_status;
};

sockaddr_un addressOf(const std::filesystem::path &socket)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    return address;
}

// A socket file nobody listens on any more, as a crashed provider leaves it.
bool leaveStaleSocket(const std::filesystem::path &socket)
{
    const int stale = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(socket);
    const int bound = ::bind(stale, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::close(stale);
    return bound == 0;
}

// One client of the provider's socket, speaking its line protocol.
class ProtocolClient
{
public:
    explicit ProtocolClient(const std::filesystem::path &socket)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = addressOf(socket);
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address)
                      == 0;
    }
    ~ProtocolClient() { ::close(m_fd); }

    ProtocolClient(const ProtocolClient &) = delete;
    ProtocolClient &operator=(const ProtocolClient &) = delete;

    bool isConnected() const { return m_connected; }

    void sendLine(std::string_view line)
    {
        std::string text = std::string(line) + '\n';
        std::string_view rest = text;
        while (!rest.empty()) {
            const ssize_t sent = ::send(m_fd, rest.data(), rest.size(), MSG_NOSIGNAL);
            if (sent <= 0)
                return;
            rest.remove_prefix(std::size_t(sent));
        }
    }
    void send(const json &request) { sendLine(request.dump()); }

    // The next message, or nothing at end of connection (closed() is then true) or after the cap.
    std::optional<json> receive()
    {
        const auto deadline = std::chrono::steady_clock::now() + Cap;
        for (;;) {
            const auto newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                const std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                return json::parse(line);
            }
            if (m_closed || !waitReadable(m_fd, deadline))
                return std::nullopt;
            char chunk[4096];
            const ssize_t count = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                m_closed = true;
            else
                m_buffer.append(chunk, std::size_t(count));
        }
    }
    bool closed() const { return m_closed; }

    // Sends a request and returns the reply to it.
    std::optional<json> request(const json &request)
    {
        send(request);
        return receive();
    }

    // The reply's text to a "message" request.
    std::string message(int id, std::string_view text)
    {
        const std::optional<json> reply = request(
            {{"id", id}, {"type", "message"}, {"data", base64(text)}});
        if (!reply || reply->value("type", "") != "reply" || reply->value("id", -1) != id)
            return "<bad reply: " + (reply ? reply->dump() : std::string("none")) + ">";
        return (*reply)["data"].is_string() ? unbase64((*reply)["data"].get<std::string>()) : "";
    }

    // Subscribes and reads until the tunnel is connected.
    bool subscribeUntilConnected()
    {
        std::optional<json> message = request({{"id", 1}, {"type", "subscribe"}});
        while (message && message->value("status", -1) == 2)
            message = receive();
        return message && message->value("type", "") == "status" && (*message)["status"] == 3;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
    std::string m_buffer;
};

json statusPush(int status)
{
    return {{"type", "status"}, {"status", status}};
}

json statusReply(int id, int status)
{
    return {{"id", id}, {"type", "status"}, {"status", status}};
}

class ReferenceProviderTest : public testing::Test
{
protected:
    ReferenceProviderTest()
    {
        std::filesystem::create_directories(socketDirectory());
        std::filesystem::permissions(socketDirectory(), std::filesystem::perms::owner_all);
    }

    std::filesystem::path socketDirectory() const { return m_home.runtimeDirectory() / "tunnel"; }
    std::filesystem::path socketPath() const { return socketDirectory() / "provider.sock"; }
    std::filesystem::path logFile() const
    {
        return m_home.dataHome() / "group.com.qaromac.wv" / "reference-provider.log";
    }

    static json options(const std::string &nodeName = "", const std::string &mode = "rule")
    {
        return {{"subuuid", Uuid},
                {"host", "https://api.orvane.test"},
                {"nodeName", nodeName},
                {"tunMode", mode}};
    }

    // A provider on the socket path that waits for its options.
    std::unique_ptr<ProviderProcess> spawn()
    {
        return std::make_unique<ProviderProcess>(
            std::vector<std::string>{"--socket", socketPath().string()});
    }

    std::unique_ptr<ProviderProcess> start(const json &startOptions = options())
    {
        auto provider = spawn();
        provider->giveOptions(startOptions.dump());
        return provider;
    }

    // Starts a provider and waits for "ready" (and for standard output to be closed after it).
    std::unique_ptr<ProviderProcess> startReady(const json &startOptions = options())
    {
        auto provider = start(startOptions);
        const std::optional<std::string> output = provider->standardOutput();
        EXPECT_EQ(output, "ready\n");
        return provider;
    }

    TemporaryHome m_home;
};

} // namespace

TEST_F(ReferenceProviderTest, SubscriberSeesConnectingThenConnected)
{
    // Long enough that the test subscribes while still connecting.
    m_home.setVariable("ORVANE_PROVIDER_START_DELAY_MS", "2000");
    auto provider = startReady();

    ProtocolClient client(socketPath());
    ASSERT_TRUE(client.isConnected());
    EXPECT_EQ(client.request({{"id", 1}, {"type", "subscribe"}}), statusReply(1, 2));
    EXPECT_EQ(client.request({{"id", 2}, {"type", "status"}}), statusReply(2, 2));
    EXPECT_EQ(client.receive(), statusPush(3));
    EXPECT_EQ(client.request({{"id", 3}, {"type", "status"}}), statusReply(3, 3));

    const std::vector<std::string> logged = lines(readFile(logFile()));
    const auto connecting = std::find(logged.begin(), logged.end(), "status 2");
    EXPECT_NE(connecting, logged.end());
    EXPECT_NE(std::find(connecting, logged.end(), "status 3"), logged.end());
    EXPECT_TRUE(provider->isRunning());
}

TEST_F(ReferenceProviderTest, MessagesAreAnsweredAndLoggedWithTheUuidMasked)
{
    Platform::PreferenceStore &preferences = Platform::PreferenceStore::group(
        "group.com.qaromac.wv");
    ASSERT_TRUE(preferences.setValue("qaro_sub_uuid", Uuid));
    ASSERT_TRUE(preferences.setValue("qaro_node_name", "香港 01"));
    ASSERT_TRUE(preferences.setValue("qaro_tun_mode", "global"));
    auto provider = startReady(options("ZiDedadu", "global"));

    ProtocolClient client(socketPath());
    ASSERT_TRUE(client.subscribeUntilConnected());
    EXPECT_EQ(client.message(10, "Hello"), "hello from the reference provider, status 3");
    EXPECT_EQ(client.message(11, "subuuid." + Uuid), "subscription received");
    EXPECT_EQ(client.message(12, "switchNode.香港 01"), "switched to node 香港 01");
    EXPECT_EQ(client.message(13, "switchNode."), "switched to automatic selection");
    EXPECT_EQ(client.message(14, "switchNode.ZiDedadu"), "switched to automatic selection");
    EXPECT_EQ(client.message(15, "tunMode.global"), "routing mode global");
    EXPECT_EQ(client.message(16, "tunMode.rule"), "routing mode rule");
    EXPECT_EQ(client.message(17, "tunMode.sideways"), "unknown message");
    EXPECT_EQ(client.message(18, "line\nbreak"), "unknown message");

    const std::string log = readFile(logFile());
    EXPECT_EQ(log.find(Uuid), std::string::npos) << log;
    const std::vector<std::string> expected = {
        R"(options {"host":"https://api.orvane.test","nodeName":"ZiDedadu","subuuid":")"
            + MaskedUuid + R"(","tunMode":"global"})",
        R"(preferences {"qaro_node_name":"香港 01","qaro_sub_uuid":")" + MaskedUuid
            + R"(","qaro_tun_mode":"global"})",
        "status 2",
        "status 3",
        "message Hello",
        "message subuuid." + MaskedUuid,
        "message switchNode.香港 01",
        "message switchNode.",
        "message switchNode.ZiDedadu",
        "message tunMode.global",
        "message tunMode.rule",
        "message tunMode.sideways",
        "message line\\nbreak",
    };
    EXPECT_EQ(lines(log), expected);

    struct stat status;
    ASSERT_EQ(::stat(logFile().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(logFile().parent_path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);

    // The options travel on standard input only.
    std::string commandLine = readFile("/proc/" + std::to_string(provider->pid()) + "/cmdline");
    std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
    EXPECT_EQ(commandLine, Program + " --socket " + socketPath().string() + " ");
    EXPECT_EQ(commandLine.find(Uuid.substr(0, 8)), std::string::npos);
    EXPECT_EQ(commandLine.find("api.orvane.test"), std::string::npos);
}

TEST_F(ReferenceProviderTest, StopRequestAndSigtermEndTheTunnel)
{
    {
        auto provider = startReady();
        ProtocolClient subscriber(socketPath());
        ProtocolClient bystander(socketPath());
        ASSERT_TRUE(subscriber.subscribeUntilConnected());
        ASSERT_EQ(bystander.request({{"id", 1}, {"type", "status"}}), statusReply(1, 3));

        EXPECT_EQ(subscriber.request({{"id", 4}, {"type", "stop"}}),
                  json({{"id", 4}, {"type", "stopping"}}));
        EXPECT_EQ(subscriber.receive(), statusPush(5));
        EXPECT_EQ(subscriber.receive(), statusPush(1));
        EXPECT_EQ(subscriber.receive(), std::nullopt);
        EXPECT_TRUE(subscriber.closed());
        EXPECT_FALSE(std::filesystem::exists(socketPath()));
        EXPECT_EQ(bystander.receive(), std::nullopt);
        EXPECT_TRUE(bystander.closed());
        EXPECT_EQ(provider->waitForExit(), 0);
    }
    std::vector<std::string> logged = lines(readFile(logFile()));
    ASSERT_GE(logged.size(), 3u);
    EXPECT_EQ(std::vector(logged.end() - 3, logged.end()),
              std::vector<std::string>({"stop", "status 5", "status 1"}));

    auto provider = startReady();
    ProtocolClient subscriber(socketPath());
    ASSERT_TRUE(subscriber.subscribeUntilConnected());
    ::kill(provider->pid(), SIGTERM);
    EXPECT_EQ(subscriber.receive(), statusPush(5));
    EXPECT_EQ(subscriber.receive(), statusPush(1));
    EXPECT_EQ(subscriber.receive(), std::nullopt);
    EXPECT_TRUE(subscriber.closed());
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    EXPECT_EQ(provider->waitForExit(), 0);
    logged = lines(readFile(logFile()));
    ASSERT_GE(logged.size(), 3u);
    EXPECT_EQ(std::vector(logged.end() - 3, logged.end()),
              std::vector<std::string>({"stop SIGTERM", "status 5", "status 1"}));
}

TEST_F(ReferenceProviderTest, ClientsShareTheTunnelAndLeavingDoesNotStopIt)
{
    auto provider = startReady();
    auto first = std::make_unique<ProtocolClient>(socketPath());
    ProtocolClient second(socketPath());
    ASSERT_TRUE(first->subscribeUntilConnected());
    EXPECT_EQ(second.request({{"id", 1}, {"type", "subscribe"}}), statusReply(1, 3));
    EXPECT_EQ(second.request({{"id", 2}, {"type", "status"}}), statusReply(2, 3));

    // The app quits; a new one connects later and subscribes again.
    first.reset();
    EXPECT_EQ(second.request({{"id", 3}, {"type", "status"}}), statusReply(3, 3));
    ProtocolClient third(socketPath());
    ASSERT_TRUE(third.isConnected());
    EXPECT_EQ(third.request({{"id", 1}, {"type", "subscribe"}}), statusReply(1, 3));
    EXPECT_EQ(third.message(2, "Hello"), "hello from the reference provider, status 3");

    EXPECT_TRUE(provider->isRunning());
    EXPECT_TRUE(std::filesystem::exists(socketPath()));
    const std::vector<std::string> logged = lines(readFile(logFile()));
    EXPECT_EQ(std::find(logged.begin(), logged.end(), "stop"), logged.end());
}

TEST_F(ReferenceProviderTest, StaleSocketIsReplacedButALiveOrLockedOneIsNot)
{
    ASSERT_TRUE(leaveStaleSocket(socketPath()));
    ASSERT_FALSE(ProtocolClient(socketPath()).isConnected());
    struct stat stale;
    ASSERT_EQ(::lstat(socketPath().c_str(), &stale), 0);

    // Whoever holds the lock owns the path, even before its socket listens.
    const std::string lockPath = socketPath().string() + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    EXPECT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    auto locked = start();
    EXPECT_EQ(locked->standardOutput(), "");
    EXPECT_EQ(locked->waitForExit(), 1);
    ::close(lock);
    struct stat status;
    ASSERT_EQ(::lstat(socketPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_ino, stale.st_ino);

    auto provider = startReady();
    ProtocolClient client(socketPath());
    ASSERT_TRUE(client.isConnected());
    EXPECT_EQ(client.request({{"id", 1}, {"type", "status"}}).value_or(json())["type"], "status");
    ASSERT_EQ(::lstat(socketPath().c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    ASSERT_EQ(::lstat(lockPath.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    const ino_t lockInode = status.st_ino;

    auto intruder = start();
    EXPECT_EQ(intruder->standardOutput(), "");
    EXPECT_EQ(intruder->waitForExit(), 1);
    EXPECT_EQ(client.request({{"id", 2}, {"type", "status"}}).value_or(json())["id"], 2);
    EXPECT_TRUE(ProtocolClient(socketPath()).isConnected());
    EXPECT_TRUE(provider->isRunning());
    ASSERT_EQ(::lstat(lockPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_ino, lockInode);
}

TEST_F(ReferenceProviderTest, OnlyOneOfTwoProvidersStartedTogetherTakesOverAStaleSocket)
{
    // Both wait for their options before either gets them, so that they reach the socket path
    // together. Even so their takeovers overlap only now and then: this many rounds catch an
    // unguarded one.
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(leaveStaleSocket(socketPath()));
        const std::array providers = {spawn(), spawn()};
        for (const auto &provider : providers)
            provider->waitUntilReadingOptions();
        for (const auto &provider : providers)
            provider->giveOptions(options().dump());
        const std::array outputs = {providers[0]->standardOutput(), providers[1]->standardOutput()};
        const std::size_t winner = outputs[0] == "ready\n" ? 0 : 1;
        ASSERT_EQ(outputs[winner], "ready\n");
        ASSERT_EQ(outputs[1 - winner], "");
        EXPECT_EQ(providers[1 - winner]->waitForExit(), 1);

        ProtocolClient client(socketPath());
        EXPECT_EQ(client.request({{"id", 1}, {"type", "status"}}).value_or(json())["id"], 1);
        ::kill(providers[winner]->pid(), SIGTERM);
        ASSERT_EQ(providers[winner]->waitForExit(), 0);
        ASSERT_FALSE(std::filesystem::exists(socketPath()));
    }
}

TEST_F(ReferenceProviderTest, FailedStartsExitWithoutReady)
{
    const std::string socket = socketPath().string();
    struct Case
    {
        std::vector<std::string> arguments;
        std::string options;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{}, options().dump(), 2},
        {{"--socket"}, options().dump(), 2},
        {{"--socket", ""}, options().dump(), 2},
        {{"--socket", socket, "--verbose"}, options().dump(), 2},
        {{"--socket", socket}, "not json", 2},
        {{"--socket", socket}, "[]", 2},
        {{"--socket", (socketDirectory() / "missing" / "p.sock").string()}, options().dump(), 1},
    };
    for (const Case &test : cases) {
        ProviderProcess provider(test.arguments);
        provider.giveOptions(test.options);
        EXPECT_EQ(provider.standardOutput(), "") << testing::PrintToString(test.arguments);
        EXPECT_EQ(provider.waitForExit(), test.exitCode) << testing::PrintToString(test.arguments);
    }

    m_home.setVariable("ORVANE_PROVIDER_REFUSE_START", "1");
    auto refused = start();
    EXPECT_EQ(refused->standardOutput(), "");
    EXPECT_EQ(refused->waitForExit(), 1);
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    const std::vector<std::string> logged = lines(readFile(logFile()));
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), "refused start");
}

TEST_F(ReferenceProviderTest, StopDelayHoldsDisconnecting)
{
    // Long enough that the status request below is answered while still disconnecting.
    m_home.setVariable("ORVANE_PROVIDER_STOP_DELAY_MS", "2000");
    auto provider = startReady();
    ProtocolClient client(socketPath());
    ASSERT_TRUE(client.subscribeUntilConnected());

    EXPECT_EQ(client.request({{"id", 4}, {"type", "stop"}}),
              json({{"id", 4}, {"type", "stopping"}}));
    EXPECT_EQ(client.receive(), statusPush(5));
    EXPECT_EQ(client.request({{"id", 5}, {"type", "status"}}), statusReply(5, 5));
    EXPECT_EQ(client.request({{"id", 6}, {"type", "stop"}}),
              json({{"id", 6}, {"type", "stopping"}}));
    EXPECT_EQ(client.receive(), statusPush(1));
    EXPECT_EQ(client.receive(), std::nullopt);
    EXPECT_TRUE(client.closed());
    EXPECT_EQ(provider->waitForExit(), 0);
}

TEST_F(ReferenceProviderTest, MalformedLinesGetErrorReplies)
{
    auto provider = startReady();
    ProtocolClient client(socketPath());
    ASSERT_TRUE(client.isConnected());

    const auto errorFor = [&](std::string_view line) {
        client.sendLine(line);
        const std::optional<json> reply = client.receive();
        if (!reply || reply->value("type", "") != "error" || !(*reply)["message"].is_string())
            return json("<not an error: " + (reply ? reply->dump() : std::string("none")) + ">");
        return (*reply)["id"];
    };
    EXPECT_EQ(errorFor("not json"), nullptr);
    EXPECT_EQ(errorFor(""), nullptr);
    EXPECT_EQ(errorFor("[1,2]"), nullptr);
    EXPECT_EQ(errorFor(R"({"type":"status"})"), nullptr);
    EXPECT_EQ(errorFor(R"({"id":"7","type":"status"})"), nullptr);
    EXPECT_EQ(errorFor(R"({"id":1.5,"type":"status"})"), nullptr);
    EXPECT_EQ(errorFor(R"({"id":7})"), 7);
    EXPECT_EQ(errorFor(R"({"id":8,"type":"reboot"})"), 8);
    EXPECT_EQ(errorFor(R"({"id":9,"type":"message"})"), 9);
    EXPECT_EQ(errorFor(R"({"id":10,"type":"message","data":"not base64!"})"), 10);
    EXPECT_EQ(client.request({{"id", 11}, {"type", "status"}}).value_or(json())["id"], 11);
    EXPECT_EQ(client.message(12, ""), "unknown message");

    // A line over 64 KiB ends that client only.
    ProtocolClient flooder(socketPath());
    ASSERT_TRUE(flooder.isConnected());
    flooder.sendLine(std::string(64 * 1024 + 1, 'x'));
    EXPECT_EQ(flooder.receive(), std::nullopt);
    EXPECT_TRUE(flooder.closed());
    EXPECT_EQ(client.request({{"id", 13}, {"type", "status"}}).value_or(json())["id"], 13);
    EXPECT_TRUE(provider->isRunning());
}

TEST(ReferenceProviderBundleTest, InfoDescribesTheBuiltExecutable)
{
    const std::filesystem::path executable = Program;
    const std::filesystem::path contents = executable.parent_path().parent_path();
    EXPECT_EQ(executable.parent_path().filename(), "bin");
    EXPECT_EQ(contents.filename(), "Contents");
    EXPECT_EQ(contents.parent_path().filename(), "com.qaromac.wv.sysne.systemextension");

    const json info = json::parse(readFile(contents / "Info.json"));
    EXPECT_EQ(info["CFBundleIdentifier"], "com.qaromac.wv.sysne");
    EXPECT_EQ(info["CFBundleName"], "OrvaneVPN Tunnel");
    EXPECT_EQ(info["CFBundleExecutable"], executable.filename().string());
    EXPECT_FALSE(info.value("CFBundleShortVersionString", "").empty());
    EXPECT_FALSE(info.value("CFBundleVersion", "").empty());
}
