#include "ListeningSocket.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ReferenceProvider {

namespace {

bool addressFor(const std::filesystem::path &path, sockaddr_un &address)
{
    const std::string &text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path)
        return false;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, text.data(), text.size());
    return true;
}

// Whether some process still accepts connections at the path. The connect does not block, so
// a listener with a full backlog counts as alive too.
bool someoneListens(const sockaddr_un &address)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const int result = ::connect(probe,
                                 reinterpret_cast<const sockaddr *>(&address),
                                 sizeof address);
    const bool alive = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(probe);
    return alive;
}

} // namespace

ListeningSocket::~ListeningSocket()
{
    close();
}

bool ListeningSocket::listen(const std::filesystem::path &path)
{
    m_path = path;
    sockaddr_un address;
    if (!addressFor(path, address))
        return fail("socket path is empty or too long");
    if (!clearPath())
        return false;

    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return fail("socket");
    // The narrow umask keeps the file private from the moment it appears.
    const mode_t oldMask = ::umask(0177);
    const int bound = ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::umask(oldMask);
    if (bound != 0)
        return fail("bind");

    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return fail("stat");
    m_device = status.st_dev;
    m_inode = status.st_ino;
    m_bound = true;
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(m_fd, SOMAXCONN) != 0)
        return fail("listen");
    return true;
}

int ListeningSocket::acceptClient()
{
    if (m_fd < 0)
        return -1;
    for (;;) {
        const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client >= 0 || errno != EINTR)
            return client;
    }
}

void ListeningSocket::close()
{
    struct stat status;
    if (m_bound && ::lstat(m_path.c_str(), &status) == 0 && status.st_dev == m_device
        && status.st_ino == m_inode) {
        ::unlink(m_path.c_str());
    }
    m_bound = false;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool ListeningSocket::clearPath()
{
    struct stat status;
    if (::lstat(m_path.c_str(), &status) != 0)
        return errno == ENOENT || fail("stat");
    if (S_ISDIR(status.st_mode)) {
        m_error = "socket path is a directory";
        return false;
    }
    sockaddr_un address;
    addressFor(m_path, address);
    if (S_ISSOCK(status.st_mode) && someoneListens(address)) {
        m_error = "another process listens on the socket";
        return false;
    }
    return ::unlink(m_path.c_str()) == 0 || errno == ENOENT || fail("unlink");
}

bool ListeningSocket::fail(const std::string &what)
{
    m_error = what + ": " + std::strerror(errno);
    close();
    return false;
}

} // namespace ReferenceProvider
