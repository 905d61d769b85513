#pragma once

#include "platform/Log.h"

#include <mutex>
#include <string>
#include <vector>

// Records every log line of the process while it lives, instead of printing it.
class LogRecorder final : public Platform::LogSink
{
public:
    struct SystemLine
    {
        Platform::LogLevel level;
        std::string category;
        std::string message;
    };

    LogRecorder();
    ~LogRecorder() override;

    std::vector<std::string> printed() const;
    std::vector<SystemLine> systemLines() const;
    std::vector<std::string> systemMessages() const;
    bool hasSystemMessage(const std::string &message) const;

    void standardOutput(std::string_view line) override;
    void systemLog(Platform::LogLevel level,
                   std::string_view category,
                   std::string_view message) override;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_printed;
    std::vector<SystemLine> m_systemLines;
};
