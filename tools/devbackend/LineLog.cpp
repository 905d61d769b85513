#include "LineLog.h"

namespace Dev {

void LineLog::write(std::string_view line)
{
    const std::lock_guard lock(m_mutex);
    m_stream << line << '\n';
    m_stream.flush();
}

} // namespace Dev
