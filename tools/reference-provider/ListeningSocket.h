#pragma once

#include <filesystem>
#include <string>

#include <sys/types.h>

namespace ReferenceProvider {

// The provider's Unix stream socket: replaces a stale file at the path, listens with mode 0600,
// and removes the file again when closed, unless another process has put its own there since.
class ListeningSocket
{
public:
    ListeningSocket() = default;
    ~ListeningSocket();

    ListeningSocket(const ListeningSocket &) = delete;
    ListeningSocket &operator=(const ListeningSocket &) = delete;

    // False, with the reason in error(), when the path cannot be taken.
    bool listen(const std::filesystem::path &path);
    const std::string &error() const { return m_error; }

    int fd() const { return m_fd; }
    bool isListening() const { return m_fd >= 0; }

    // A new non-blocking client, or -1 when none is waiting.
    int acceptClient();

    void close();

private:
    bool clearPath();
    bool fail(const std::string &what);

    std::filesystem::path m_path;
    std::string m_error;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    bool m_bound = false;
};

} // namespace ReferenceProvider
