#pragma once

#include "Protocol.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>

namespace TunnelProvider {

// What a tunnel may tell the provider that runs it.
class ProviderControl
{
public:
    // Moves the status and pushes it to subscribers. A reason goes only with Disconnected: why the
    // tunnel could not come up or went down, in words the app shows. Disconnected is final.
    virtual void setStatus(Status status, std::string reason = {}) = 0;

protected:
    ~ProviderControl() = default;
};

// The tunnel behind a provider: what moves it from connecting to connected, what the app's
// messages do, and how it stops. The provider calls it from its one event loop; nothing here may
// block for long, so slow work waits on descriptors and deadlines the loop polls.
class TunnelDriver
{
public:
    using Clock = std::chrono::steady_clock;

    virtual ~TunnelDriver() = default;

    // Begins connecting; the status is Connecting.
    virtual void start(ProviderControl &control) = 0;
    // An app message; the reply bytes (empty for none).
    virtual std::string handleMessage(std::string_view message, Status status) = 0;
    // The status is Disconnecting; the driver reports Disconnected once the tunnel is down, well
    // within half a second.
    virtual void stop() = 0;

    // Descriptors to poll, and what they became.
    virtual std::vector<pollfd> descriptors() const { return {}; }
    virtual void handleDescriptors(const std::vector<pollfd> &polled) { (void) polled; }
    // The next moment the driver wants runTimers called, if any.
    virtual std::optional<Clock::time_point> nextDeadline() const { return std::nullopt; }
    virtual void runTimers(Clock::time_point now) { (void) now; }
};

} // namespace TunnelProvider
