// A tunnel provider for tests that keeps the provider protocol up to a point and then breaks it
// the way ORVANE_SCRIPTED_PROVIDER says:
//   good         keeps it: connected at once; replies "ok" to messages; stops on request
//   types        before each status: members of every wrong type, nulls, statuses out of range
//   garbage      before each status: text that is no JSON, arrays, deep nesting, bad UTF-8
//   long         before each status: a line far over the length limit
//   half         half a line for every request, then silence
//   silent       says ready, then never answers; ignores SIGTERM
//   never-ready  never says ready; ignores SIGTERM
//   deaf         like good, but ignores stop requests and SIGTERM
//   says-down    reports status 1 and stays, connected
// ORVANE_SCRIPTED_REASON, when set, is a JSON value sent as "reason" in every status line.
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
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t count = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return;
        sent += std::size_t(count);
    }
}

// Sends a status line, after what the mode says comes before it.
void sendStatus(int fd, const nlohmann::json &id, int status)
{
    std::string lines;
    if (g_mode == "types") {
        lines = R"({"type":1}
{"type":null}
{"type":["status"],"status":3}
{"type":"status","status":"3"}
{"type":"status","status":null}
{"type":"status","status":3.5}
{"type":"status","status":7}
{"type":"status","status":-1}
{"type":"status","status":18446744073709551615}
{"type":"status","status":{"value":1}}
{"id":"1","type":"reply","data":5}
{"id":null,"type":"reply","data":"not base64!"}
{"id":1.5,"type":"stopping"}
{"type":"error","message":null,"id":[]}
)";
    } else if (g_mode == "garbage") {
        lines = "this is not json\n[1,2,3]\n\"text\"\nnull\n\xff\xfe{\n{}\n"
                + (R"({"type":"status","status":1,"deep":)" + std::string(20000, '[')
                   + std::string(20000, ']') + "}\n");
    } else if (g_mode == "long") {
        lines = R"({"type":"status","status":1,"padding":")" + std::string(200000, 'x') + "\"}\n";
    }
    nlohmann::json message = {{"type", "status"}, {"status", status}};
    if (!id.is_null())
        message["id"] = id;
    if (const char *reason = std::getenv("ORVANE_SCRIPTED_REASON"))
        message["reason"] = nlohmann::json::parse(reason);
    writeAll(fd, lines + message.dump() + "\n");
}

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
    while (g_mode == "never-ready")
        ::pause();

    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, argv[2], sizeof address.sun_path - 1);
    ::unlink(argv[2]);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 16) != 0 || ::write(STDOUT_FILENO, "ready\n", 6) != 6)
        return 1;

    const int status = g_mode == "says-down" ? 1 : 3;
    std::map<int, std::string> clients; // each client's unfinished line
    for (;;) {
        std::vector<pollfd> watched{{listener, POLLIN, 0}};
        for (const auto &client : clients)
            watched.push_back({client.first, POLLIN, 0});
        ::poll(watched.data(), watched.size(), -1);
        if (watched[0].revents & POLLIN)
            clients[::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)];
        for (std::size_t i = 1; i < watched.size(); ++i) {
            const int fd = watched[i].fd;
            if (!watched[i].revents)
                continue;
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0) {
                ::close(fd);
                clients.erase(fd);
                continue;
            }
            std::string &received = clients[fd];
            received.append(buffer, std::size_t(count));
            for (std::size_t end; (end = received.find('\n')) != std::string::npos;) {
                const auto request = nlohmann::json::parse(received.substr(0, end), nullptr, false);
                received.erase(0, end + 1);
                const auto id = request.value("id", nlohmann::json());
                const auto type = request.value("type", std::string());
                if (g_mode == "silent")
                    continue;
                if (g_mode == "half")
                    writeAll(fd, R"({"id":)");
                else if (type == "subscribe" || type == "status")
                    sendStatus(fd, id, status);
                else if (type == "message")
                    writeAll(fd,
                             nlohmann::json({{"id", id}, {"type", "reply"}, {"data", "b2s="}}).dump()
                                 + "\n");
                else if (type == "stop" && g_mode != "deaf") {
                    writeAll(fd, nlohmann::json({{"id", id}, {"type", "stopping"}}).dump() + "\n");
                    sendStatus(fd, nullptr, 5);
                    sendStatus(fd, nullptr, 1);
                    ::unlink(argv[2]);
                    return 0;
                }
            }
        }
    }
}
