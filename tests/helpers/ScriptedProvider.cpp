// A tunnel provider for tests that keeps the provider protocol up to a point and then breaks it
// the way ORVANE_SCRIPTED_PROVIDER says:
//   good         keeps it: status 2, then 3; replies to messages; stops on request
//   types        before each status it sends, lines with members of every wrong type and nulls,
//                and statuses out of range
//   garbage      before each status: text that is no JSON, arrays, deep nesting, bad UTF-8
//   long         before each status: a line far over the length limit
//   half         half a line, then silence
//   silent       says ready, then never answers; ignores SIGTERM
//   never-ready  never says ready; ignores SIGTERM
//   deaf         like good, but ignores stop requests and SIGTERM
//   says-down    reports status 1 and keeps running and connected
// Started as the app starts providers: --socket PATH, the options on standard input.

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::string g_mode;

void writeAll(int fd, const std::string &text)
{
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t count = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return;
        sent += std::size_t(count);
    }
}

void sendLine(int fd, const nlohmann::json &message)
{
    writeAll(fd, message.dump() + "\n");
}

// What the scripted misbehaviour says before each status it reports.
void misbehave(int fd)
{
    if (g_mode == "types") {
        for (const char *line : {
                 R"({"type":1})",
                 R"({"type":null})",
                 R"({"type":["status"],"status":3})",
                 R"({"type":"status","status":"3"})",
                 R"({"type":"status","status":null})",
                 R"({"type":"status","status":3.5})",
                 R"({"type":"status","status":7})",
                 R"({"type":"status","status":-1})",
                 R"({"type":"status","status":18446744073709551615})",
                 R"({"type":"status","status":{"value":3}})",
                 R"({"id":"1","type":"reply","data":5})",
                 R"({"id":null,"type":"reply","data":"not base64!"})",
                 R"({"id":1.5,"type":"stopping"})",
                 R"({"type":"error","message":null,"id":[]})",
             })
            writeAll(fd, std::string(line) + "\n");
    } else if (g_mode == "garbage") {
        writeAll(fd, "this is not json\n[1,2,3]\n\"text\"\nnull\n\xff\xfe{\n{}\n");
        writeAll(fd,
                 R"({"type":"status","status":1,"deep":)" + std::string(20000, '[')
                     + std::string(20000, ']') + "}\n");
        writeAll(fd, "{\"type\":\"status\",\"status\":" + std::string(3000, '[') + "\n");
    } else if (g_mode == "long") {
        writeAll(fd,
                 R"({"type":"status","status":1,"padding":")" + std::string(200000, 'x') + "\"}\n");
    }
}

struct Provider
{
    int listener = -1;
    int status = 2;
    std::map<int, std::string> clients; // fd and what it sent so far
    std::vector<int> subscribers;

    void push(int value)
    {
        status = value;
        for (int fd : subscribers) {
            misbehave(fd);
            sendLine(fd, {{"type", "status"}, {"status", value}});
        }
    }

    // Whether the provider goes on.
    bool handle(int fd, const nlohmann::json &request)
    {
        if (!request.is_object())
            return true;
        const auto id = request.value("id", nlohmann::json());
        const auto type = request.value("type", std::string());
        if (g_mode == "silent")
            return true;
        if (g_mode == "half") {
            writeAll(fd, R"({"id":)");
            return true;
        }
        if (type == "subscribe" || type == "status") {
            if (type == "subscribe")
                subscribers.push_back(fd);
            misbehave(fd);
            const int reported = g_mode == "says-down" ? 1 : status;
            sendLine(fd, {{"id", id}, {"type", "status"}, {"status", reported}});
            return true;
        }
        if (type == "message") {
            sendLine(fd, {{"id", id}, {"type", "reply"}, {"data", "b2s="}}); // "ok"
            return true;
        }
        if (type == "stop" && g_mode != "deaf") {
            sendLine(fd, {{"id", id}, {"type", "stopping"}});
            push(5);
            push(1);
            return false;
        }
        return true;
    }

    void serve()
    {
        if (g_mode != "says-down")
            push(3);
        for (;;) {
            std::vector<pollfd> watched{{listener, POLLIN, 0}};
            for (const auto &[fd, received] : clients)
                watched.push_back({fd, POLLIN, 0});
            if (::poll(watched.data(), watched.size(), -1) < 0)
                continue;
            if (watched[0].revents & POLLIN) {
                const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0)
                    clients[client];
            }
            for (std::size_t i = 1; i < watched.size(); ++i) {
                if (!watched[i].revents)
                    continue;
                const int fd = watched[i].fd;
                char chunk[4096];
                const ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
                if (count <= 0) {
                    ::close(fd);
                    clients.erase(fd);
                    std::erase(subscribers, fd);
                    continue;
                }
                std::string &received = clients[fd];
                received.append(chunk, std::size_t(count));
                for (std::size_t end; (end = received.find('\n')) != std::string::npos;) {
                    const auto request = nlohmann::json::parse(received.substr(0, end),
                                                               nullptr,
                                                               false);
                    received.erase(0, end + 1);
                    if (!handle(fd, request))
                        return;
                }
            }
        }
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || std::string(argv[1]) != "--socket")
        return 2;
    const char *mode = std::getenv("ORVANE_SCRIPTED_PROVIDER");
    g_mode = mode ? mode : "good";
    std::signal(SIGPIPE, SIG_IGN);
    if (g_mode == "silent" || g_mode == "never-ready" || g_mode == "deaf")
        std::signal(SIGTERM, SIG_IGN);
    char buffer[4096];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    if (g_mode == "never-ready") {
        for (;;)
            ::pause();
    }

    const std::string path = argv[2];
    Provider provider;
    provider.listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ::unlink(path.c_str());
    if (::bind(provider.listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(provider.listener, 16) != 0)
        return 1;
    if (::write(STDOUT_FILENO, "ready\n", 6) != 6)
        return 1;
    provider.serve();
    ::unlink(path.c_str());
    return 0;
}
