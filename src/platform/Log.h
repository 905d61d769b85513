#pragma once

#include <string>
#include <string_view>

namespace Platform {

enum class LogLevel { Info, Default, Error };

// Where log lines go. The default sink writes standard-output lines to stdout and system-log
// lines to syslog(3) under the identity "com.qaromac.wv", as "[category] message"; tests install
// a sink that records them.
class LogSink
{
public:
    virtual ~LogSink() = default;

    virtual void standardOutput(std::string_view line) = 0;
    virtual void systemLog(LogLevel level, std::string_view category, std::string_view message) = 0;
};

namespace Log {

// A diagnostic line on standard output.
void print(std::string_view line);

// A line in the system log, tagged with the category it comes from.
void system(LogLevel level, std::string_view category, std::string_view message);

// Replaces the sink for the whole process; nullptr restores the default one.
void installSink(LogSink *sink);

// A secret as it may appear in a log: its first and last four characters around "****", or
// "****" alone when it is shorter than twelve characters. Counts characters, not bytes.
std::string masked(std::string_view secret);

} // namespace Log

} // namespace Platform
