#include "ProviderStart.h"

#include <cerrno>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace TunnelProvider::ProviderStart {

namespace {

// Start options are a few short strings; anything near this size is not from the app.
constexpr std::size_t largestOptions = 1024 * 1024;

void pointAtNull(int fd, int flags)
{
    const int null = ::open("/dev/null", flags | O_CLOEXEC);
    if (null < 0 || null == fd)
        return;
    ::dup2(null, fd);
    ::close(null);
}

std::optional<std::string> readToEnd(int fd)
{
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count == 0)
            return text;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        text.append(chunk, std::size_t(count));
        if (text.size() > largestOptions)
            return std::nullopt;
    }
}

} // namespace

std::optional<std::string> socketPath(int argc, char *argv[])
{
    if (argc != 3 || std::string_view(argv[1]) != "--socket" || argv[2][0] == '\0')
        return std::nullopt;
    return std::string(argv[2]);
}

std::optional<std::string> readOptions()
{
    std::optional<std::string> text = readToEnd(STDIN_FILENO);
    pointAtNull(STDIN_FILENO, O_RDONLY);
    return text;
}

void announceReady()
{
    constexpr std::string_view ready = "ready\n";
    while (::write(STDOUT_FILENO, ready.data(), ready.size()) < 0 && errno == EINTR) {
    }
    pointAtNull(STDOUT_FILENO, O_WRONLY);
}

} // namespace TunnelProvider::ProviderStart
