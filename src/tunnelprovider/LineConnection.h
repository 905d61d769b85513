#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace TunnelProvider {

// One connection of newline-framed lines, either end: splits what arrives into lines and queues
// what goes out, without ever blocking. A peer that sends an overlong line, or does not read what
// it is sent, is closed.
class LineConnection
{
public:
    static constexpr std::size_t longestLine = 64 * 1024;
    static constexpr std::size_t mostPendingOutput = 4 * 1024 * 1024;

    explicit LineConnection(int fd);
    ~LineConnection();

    LineConnection(const LineConnection &) = delete;
    LineConnection &operator=(const LineConnection &) = delete;

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    bool hasPendingOutput() const { return !m_output.empty(); }

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
};

} // namespace TunnelProvider
