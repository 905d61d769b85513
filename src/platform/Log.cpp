#include "Log.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include <syslog.h>

namespace Platform {

namespace {

constexpr const char systemLogIdentity[] = "com.qaromac.wv";

class DefaultSink final : public LogSink
{
public:
    DefaultSink() { ::openlog(systemLogIdentity, LOG_PID | LOG_NDELAY, LOG_USER); }

    void standardOutput(std::string_view line) override
    {
        std::string text(line);
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

    void systemLog(LogLevel level, std::string_view category, std::string_view message) override
    {
        const int priority = level == LogLevel::Error  ? LOG_ERR
                             : level == LogLevel::Info ? LOG_INFO
                                                       : LOG_NOTICE;
        ::syslog(priority,
                 "[%.*s] %.*s",
                 int(category.size()),
                 category.data(),
                 int(message.size()),
                 message.data());
    }
};

std::atomic<LogSink *> installedSink{nullptr};

LogSink &sink()
{
    if (LogSink *sink = installedSink.load())
        return *sink;
    static DefaultSink defaultSink;
    return defaultSink;
}

} // namespace

namespace Log {

void print(std::string_view line)
{
    sink().standardOutput(line);
}

void system(LogLevel level, std::string_view category, std::string_view message)
{
    sink().systemLog(level, category, message);
}

void installSink(LogSink *sink)
{
    installedSink.store(sink);
}

std::string masked(std::string_view secret)
{
    constexpr std::size_t shown = 4;
    constexpr std::size_t shortestShown = 12;
    // Where each UTF-8 character starts, so that masking never splits one.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < secret.size(); ++i) {
        if ((static_cast<unsigned char>(secret[i]) & 0xc0) != 0x80)
            starts.push_back(i);
    }
    if (starts.size() < shortestShown)
        return "****";
    return std::string(secret.substr(0, starts[shown])) + "****"
           + std::string(secret.substr(starts[starts.size() - shown]));
}

} // namespace Log

} // namespace Platform
