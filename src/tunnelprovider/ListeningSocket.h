#pragma once

#include <filesystem>
#include <string>

#include <sys/types.h>

namespace TunnelProvider {

// The provider's Unix stream socket. It holds an exclusive lock on "<path>.lock" from before
// the takeover until it is closed, so that one provider at a time owns the path; under the lock it
// replaces any file at the path, listens with mode 0600, and removes the file again when closed,
// unless another process has put its own there since.
class ListeningSocket
{
public:
    ListeningSocket() = default;
    ~ListeningSocket();

    ListeningSocket(const ListeningSocket &) = delete;
    ListeningSocket &operator=(const ListeningSocket &) = delete;

    // False, with the reason in error(), when the path cannot be taken: another provider holds
    // its lock, or the socket cannot be bound.
    bool listen(const std::filesystem::path &path);
    const std::string &error() const { return m_error; }

    int fd() const { return m_fd; }
    bool isListening() const { return m_fd >= 0; }

    // A new non-blocking client, or -1 when none is waiting.
    int acceptClient();

    void close();

private:
    bool takeLock();
    bool clearPath();
    bool fail(const std::string &what); // what, with the reason errno gives
    bool refuse(const std::string &reason);

    std::filesystem::path m_path;
    std::string m_error;
    int m_fd = -1;
    int m_lockFd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    bool m_bound = false;
};

} // namespace TunnelProvider
