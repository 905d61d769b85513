// orvane-tunnelctl: the tunnel service's requests from the command line, for people and tests.
// Every answer of the service is printed as the JSON line it sent; the exit status is 1 when it
// is an error.

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr const char usage[]
    = "usage: orvane-tunnelctl [--socket PATH] COMMAND\n"
      "  up FILE                 bring the tunnel of FILE (JSON) up and hold it until Ctrl-C\n"
      "  peer FILE               switch to the peer of FILE (JSON)\n"
      "  mode global|rule [NETWORK...]\n"
      "                          switch the routing mode; in rule mode NETWORKs go direct\n"
      "  down | status           take the tunnel down, or say how it is\n"
      "  latency ENDPOINT...     round trips to ADDRESS:PORT endpoints\n"
      "  send LINE|-             send one raw request line (- reads it from standard input)\n";

class Connection
{
public:
    explicit Connection(const std::string &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            std::cerr << "orvane-tunnelctl: cannot reach the tunnel service at " << path << ": "
                      << std::strerror(errno) << "\n";
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Connection() { ::close(m_fd); }

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    bool sendLine(const std::string &line)
    {
        const std::string text = line + "\n";
        for (std::size_t sent = 0; sent < text.size();) {
            const ssize_t count = ::send(m_fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (count <= 0)
                return false;
            sent += std::size_t(count);
        }
        return true;
    }

    // The next line, or nothing once the service has gone.
    std::optional<std::string> readLine()
    {
        for (;;) {
            if (const std::size_t end = m_received.find('\n'); end != std::string::npos) {
                std::string line = m_received.substr(0, end);
                m_received.erase(0, end + 1);
                return line;
            }
            char chunk[4096];
            const ssize_t count = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (count <= 0)
                return std::nullopt;
            m_received.append(chunk, std::size_t(count));
        }
    }

private:
    int m_fd = -1;
    std::string m_received;
};

std::optional<nlohmann::json> readJsonFile(const std::string &file)
{
    std::ifstream stream(file == "-" ? "/dev/stdin" : file);
    const std::string text(std::istreambuf_iterator<char>(stream), {});
    auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (!stream || parsed.is_discarded()) {
        std::cerr << "orvane-tunnelctl: " << file << " holds no JSON\n";
        return std::nullopt;
    }
    return parsed;
}

// Prints the answer to the request, passing over status pushes, which carry no id; 0 unless
// it is an error.
int awaitAnswer(Connection &connection)
{
    while (const auto line = connection.readLine()) {
        const auto answer = nlohmann::json::parse(*line, nullptr, false);
        if (answer.is_object() && !answer.contains("id"))
            continue;
        std::cout << *line << std::endl;
        return answer.is_object() && answer.value("type", "") == "error" ? 1 : 0;
    }
    std::cerr << "orvane-tunnelctl: the tunnel service closed the connection\n";
    return 1;
}

// Holds the tunnel: prints what the service says until the tunnel ends (1) or a signal asks us
// to let go of it (0), which takes it down.
int holdTunnel(Connection &connection)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    for (;;) {
        pollfd watched[2] = {{connection.fd(), POLLIN, 0}, {signalFd, POLLIN, 0}};
        ::poll(watched, 2, -1);
        if (watched[1].revents & POLLIN)
            return 0;
        const auto line = connection.readLine();
        if (!line)
            return 1;
        std::cout << *line << std::endl;
        const auto message = nlohmann::json::parse(*line, nullptr, false);
        if (message.is_object()
            && (message.value("type", "") == "error" || message.value("state", "") == "down"))
            return 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string socket = "/run/orvanevpn/tunnel.sock";
    if (arguments.size() >= 2 && arguments[0] == "--socket") {
        socket = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    if (arguments.empty()) {
        std::cerr << usage;
        return 2;
    }
    const std::string command = arguments[0];
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    nlohmann::json request = {{"id", 1}, {"type", command}};
    std::optional<std::string> rawLine;
    if ((command == "up" || command == "peer") && rest.size() == 1) {
        const auto value = readJsonFile(rest[0]);
        if (!value)
            return 2;
        request[command == "up" ? "tunnel" : "peer"] = *value;
    } else if (command == "mode" && !rest.empty()) {
        request["mode"] = rest[0];
        request["direct"] = std::vector<std::string>(rest.begin() + 1, rest.end());
    } else if (command == "latency" && !rest.empty()) {
        request["endpoints"] = rest;
    } else if (command == "send" && rest.size() == 1) {
        rawLine = rest[0];
        if (rest[0] == "-")
            std::getline(std::cin, *rawLine);
    } else if ((command != "down" && command != "status") || !rest.empty()) {
        std::cerr << usage;
        return 2;
    }

    Connection connection(socket);
    if (!connection.isOpen() || !connection.sendLine(rawLine.value_or(request.dump())))
        return 1;
    if (command == "up")
        return holdTunnel(connection);
    return awaitAnswer(connection);
}
