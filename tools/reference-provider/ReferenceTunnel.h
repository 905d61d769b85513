#pragma once

#include "Knobs.h"
#include "TunnelMessages.h"

#include "tunnelprovider/TunnelDriver.h"

#include <optional>

namespace TunnelProvider {
class EventLog;
}

namespace ReferenceProvider {

// A tunnel that moves no packets: connected once the start delay has passed, disconnected once
// the stop delay has passed after a stop. Messages change what it would use and are logged.
class ReferenceTunnel final : public TunnelProvider::TunnelDriver
{
public:
    ReferenceTunnel(TunnelProvider::EventLog &log, TunnelMessages messages, const Knobs &knobs);

    void start(TunnelProvider::ProviderControl &control) override;
    std::string handleMessage(std::string_view message, Status status) override;
    void stop() override;
    std::optional<Clock::time_point> nextDeadline() const override;
    void runTimers(Clock::time_point now) override;

private:
    TunnelProvider::EventLog &m_log;
    TunnelMessages m_messages;
    Knobs m_knobs;
    TunnelProvider::ProviderControl *m_control = nullptr;
    std::optional<Clock::time_point> m_connectAt;
    std::optional<Clock::time_point> m_disconnectAt;
};

} // namespace ReferenceProvider
