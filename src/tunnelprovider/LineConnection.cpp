#include "LineConnection.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace TunnelProvider {

LineConnection::LineConnection(int fd)
    : m_fd(fd)
{ }

LineConnection::~LineConnection()
{
    close();
}

void LineConnection::receive()
{
    if (m_fd < 0)
        return;
    char chunk[16 * 1024];
    const ssize_t count = ::recv(m_fd, chunk, sizeof chunk, 0);
    if (count > 0)
        m_input.append(chunk, std::size_t(count));
    else if (count == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
        close();
}

std::optional<std::string> LineConnection::nextLine()
{
    if (m_fd < 0)
        return std::nullopt;
    const std::size_t newline = m_input.find('\n');
    const std::size_t length = newline == std::string::npos ? m_input.size() : newline;
    if (length > longestLine) {
        close();
        return std::nullopt;
    }
    if (newline == std::string::npos)
        return std::nullopt;
    std::string line = m_input.substr(0, newline);
    m_input.erase(0, newline + 1);
    return line;
}

void LineConnection::send(std::string_view line)
{
    if (m_fd < 0)
        return;
    m_output.append(line);
    m_output += '\n';
    if (m_output.size() > mostPendingOutput) {
        close();
        return;
    }
    flush();
}

void LineConnection::flush()
{
    while (m_fd >= 0 && !m_output.empty()) {
        const ssize_t sent = ::send(m_fd, m_output.data(), m_output.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            m_output.erase(0, std::size_t(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        close();
    }
}

void LineConnection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_output.clear();
}

} // namespace TunnelProvider
