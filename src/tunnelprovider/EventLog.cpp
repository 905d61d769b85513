#include "EventLog.h"

#include "platform/FileOperations.h"
#include "platform/GroupContainer.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TunnelProvider {

namespace {

// A text made safe for one log line: control characters become escapes such as "\n".
std::string escapeControlCharacters(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (c == '\\') {
            escaped += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

EventLog::EventLog(const std::optional<std::filesystem::path> &file)
{
    if (!file || Platform::createDirectories(file->parent_path(), 0700))
        return;
    m_fd = ::open(file->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A file left by an earlier run may have a wider mode.
    if (m_fd >= 0)
        ::fchmod(m_fd, 0600);
}

EventLog::~EventLog()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void EventLog::append(std::string_view line)
{
    if (m_fd < 0)
        return;
    // One write per line: with O_APPEND a reader never sees half of one.
    const std::string text = escapeControlCharacters(line) + '\n';
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t written = ::write(m_fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        rest.remove_prefix(std::size_t(written));
    }
}

std::optional<std::filesystem::path> EventLog::fileInGroup(std::string_view name)
{
    if (auto container = Platform::containerForGroup("group.com.qaromac.wv"))
        return *container / name;
    return std::nullopt;
}

} // namespace TunnelProvider
