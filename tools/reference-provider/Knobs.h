#pragma once

#include <chrono>

namespace ReferenceProvider {

// Test settings from the environment:
//   ORVANE_PROVIDER_START_DELAY_MS  time from start to connected (default 20)
//   ORVANE_PROVIDER_STOP_DELAY_MS   time from disconnecting to disconnected (default 0)
//   ORVANE_PROVIDER_REFUSE_START=1  fail to start, before listening
// A value that is not a whole number of milliseconds keeps the default.
struct Knobs
{
    std::chrono::milliseconds startDelay{20};
    std::chrono::milliseconds stopDelay{0};
    bool refuseStart = false;

    static Knobs fromEnvironment();
};

} // namespace ReferenceProvider
