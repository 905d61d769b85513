#include "ReferenceTunnel.h"

#include "tunnelprovider/EventLog.h"

namespace ReferenceProvider {

ReferenceTunnel::ReferenceTunnel(TunnelProvider::EventLog &log,
                                 TunnelMessages messages,
                                 const Knobs &knobs)
    : m_log(log)
    , m_messages(std::move(messages))
    , m_knobs(knobs)
{ }

void ReferenceTunnel::start(TunnelProvider::ProviderControl &control)
{
    m_control = &control;
    m_connectAt = Clock::now() + m_knobs.startDelay;
}

std::string ReferenceTunnel::handleMessage(std::string_view message, Status status)
{
    TunnelMessages::Outcome outcome = m_messages.handle(message, status);
    m_log.append(outcome.logLine);
    return std::move(outcome.reply);
}

void ReferenceTunnel::stop()
{
    m_connectAt.reset();
    m_disconnectAt = Clock::now() + m_knobs.stopDelay;
    runTimers(Clock::now());
}

std::optional<TunnelProvider::TunnelDriver::Clock::time_point> ReferenceTunnel::nextDeadline() const
{
    return m_connectAt ? m_connectAt : m_disconnectAt;
}

void ReferenceTunnel::runTimers(Clock::time_point now)
{
    if (m_connectAt && now >= *m_connectAt) {
        m_connectAt.reset();
        m_control->setStatus(Status::Connected);
    }
    if (m_disconnectAt && now >= *m_disconnectAt) {
        m_disconnectAt.reset();
        m_control->setStatus(Status::Disconnected);
    }
}

} // namespace ReferenceProvider
