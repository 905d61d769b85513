#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

namespace Dev {

// Whole lines to one stream from many threads, each flushed at once so a reader of a pipe sees it.
class LineLog
{
public:
    explicit LineLog(std::ostream &stream)
        : m_stream(stream)
    { }

    void write(std::string_view line);

private:
    std::mutex m_mutex;
    std::ostream &m_stream;
};

} // namespace Dev
