#include "ListeningSocket.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace TunnelProvider {

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
        return refuse("socket path is empty or too long");
    if (!takeLock() || !clearPath())
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
    // Released only after the unlink, so that it cannot remove a file the next provider bound.
    // The lock file stays: were it removed, a provider that had just opened it and one creating
    // a new one could both get a lock.
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

bool ListeningSocket::takeLock()
{
    const std::string lockPath = m_path.native() + ".lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0)
        return fail("lock");
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0)
        return true;
    return errno == EWOULDBLOCK ? refuse("another provider holds the socket's lock") : fail("lock");
}

bool ListeningSocket::clearPath()
{
    struct stat status;
    if (::lstat(m_path.c_str(), &status) != 0)
        return errno == ENOENT || fail("stat");
    if (S_ISDIR(status.st_mode))
        return refuse("socket path is a directory");
    // Under the lock nobody else serves this path, so whatever is there was left by a provider
    // that is gone.
    return ::unlink(m_path.c_str()) == 0 || errno == ENOENT || fail("unlink");
}

bool ListeningSocket::fail(const std::string &what)
{
    return refuse(what + ": " + std::strerror(errno));
}

bool ListeningSocket::refuse(const std::string &reason)
{
    m_error = reason;
    close();
    return false;
}

} // namespace TunnelProvider
