#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace TunnelProvider {

// What the provider received and did, one line per event, appended to a file (mode 0600) in the
// application group's container. Tests read it. Without a file, events are dropped.
class EventLog
{
public:
    explicit EventLog(const std::optional<std::filesystem::path> &file);
    ~EventLog();

    EventLog(const EventLog &) = delete;
    EventLog &operator=(const EventLog &) = delete;

    // The line's control characters are escaped, so one event is always one line.
    void append(std::string_view line);

    // <group container>/<name>; nothing when the data directory is unknown.
    static std::optional<std::filesystem::path> fileInGroup(std::string_view name);

private:
    int m_fd = -1;
};

} // namespace TunnelProvider
