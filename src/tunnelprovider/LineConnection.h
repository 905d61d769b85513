#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ReferenceProvider {

// One client of the socket: splits what it sends into lines and queues what goes back, without
// ever blocking. A client that sends an overlong line, or does not read what it is sent, is
// closed.
class ClientConnection
{
public:
    static constexpr std::size_t longestLine = 64 * 1024;
    static constexpr std::size_t mostPendingOutput = 4 * 1024 * 1024;

    explicit ClientConnection(int fd);
    ~ClientConnection();

    ClientConnection(const ClientConnection &) = delete;
    ClientConnection &operator=(const ClientConnection &) = delete;

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    bool hasPendingOutput() const { return !m_output.empty(); }

    bool isSubscribed() const { return m_subscribed; }
    void subscribe() { m_subscribed = true; }

    // Reads what has arrived; closes the connection at end of input or on an error.
    void receive();

    // The next complete line without its newline, or nothing for now.
    std::optional<std::string> nextLine();

    // Queues one line (the newline is added) and writes as much as the socket takes.
    void send(std::string_view line);
    void flush();

    void close();

private:
    int m_fd = -1;
    std::string m_input;
    std::string m_output;
    bool m_subscribed = false;
};

} // namespace ReferenceProvider
