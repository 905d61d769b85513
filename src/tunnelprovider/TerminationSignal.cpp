#include "TerminationSignal.h"

#include <csignal>

#include <sys/signalfd.h>
#include <unistd.h>

namespace TunnelProvider {

TerminationSignal::TerminationSignal()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    m_fd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
}

TerminationSignal::~TerminationSignal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TerminationSignal::take()
{
    signalfd_siginfo information;
    return m_fd >= 0 && ::read(m_fd, &information, sizeof information) == sizeof information;
}

} // namespace TunnelProvider
