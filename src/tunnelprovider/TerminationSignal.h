#pragma once

namespace TunnelProvider {

// SIGTERM as something to poll: the signal is blocked and arrives on a descriptor instead, so
// the event loop handles it like any other input.
class TerminationSignal
{
public:
    TerminationSignal();
    ~TerminationSignal();

    TerminationSignal(const TerminationSignal &) = delete;
    TerminationSignal &operator=(const TerminationSignal &) = delete;

    int fd() const { return m_fd; }

    // Whether a SIGTERM was waiting.
    bool take();

private:
    int m_fd = -1;
};

} // namespace TunnelProvider
