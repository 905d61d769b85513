#include "BackgroundJob.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace TunnelProvider {

BackgroundJob::BackgroundJob()
    : m_event(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{ }

BackgroundJob::~BackgroundJob()
{
    cancel();
    join();
    if (m_event >= 0)
        ::close(m_event);
}

void BackgroundJob::start(Work work)
{
    cancel();
    join();
    m_cancelled = false;
    m_thread = std::thread([this, work = std::move(work)] {
        work(m_cancelled);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_event, &one, sizeof one);
    });
}

bool BackgroundJob::finish()
{
    std::uint64_t count = 0;
    if (::read(m_event, &count, sizeof count) != sizeof count)
        return false;
    join();
    return true;
}

void BackgroundJob::join()
{
    if (m_thread.joinable())
        m_thread.join();
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = ::read(m_event, &count, sizeof count);
}

} // namespace TunnelProvider
