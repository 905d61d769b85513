#include "LogRecorder.h"

LogRecorder::LogRecorder()
{
    Platform::Log::installSink(this);
}

LogRecorder::~LogRecorder()
{
    Platform::Log::installSink(nullptr);
}

std::vector<std::string> LogRecorder::printed() const
{
    std::lock_guard lock(m_mutex);
    return m_printed;
}

std::vector<LogRecorder::SystemLine> LogRecorder::systemLines() const
{
    std::lock_guard lock(m_mutex);
    return m_systemLines;
}

std::vector<std::string> LogRecorder::systemMessages() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> messages;
    for (const auto &line : m_systemLines)
        messages.push_back(line.message);
    return messages;
}

bool LogRecorder::hasSystemMessage(const std::string &message) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &line : m_systemLines) {
        if (line.message == message)
            return true;
    }
    return false;
}

void LogRecorder::standardOutput(std::string_view line)
{
    std::lock_guard lock(m_mutex);
    m_printed.emplace_back(line);
}

void LogRecorder::systemLog(Platform::LogLevel level,
                            std::string_view category,
                            std::string_view message)
{
    std::lock_guard lock(m_mutex);
    m_systemLines.push_back({level, std::string(category), std::string(message)});
}
