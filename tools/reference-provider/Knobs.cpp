#include "Knobs.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace ReferenceProvider {

namespace {

// A day is far beyond any test; the cap keeps deadline arithmetic from overflowing.
constexpr long long longestDelayMs = 24LL * 60 * 60 * 1000;

std::chrono::milliseconds delayFrom(const char *name, std::chrono::milliseconds fallback)
{
    const char *value = std::getenv(name);
    if (!value)
        return fallback;
    const std::string_view text = value;
    long long milliseconds = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), milliseconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || milliseconds < 0
        || milliseconds > longestDelayMs) {
        return fallback;
    }
    return std::chrono::milliseconds(milliseconds);
}

} // namespace

Knobs Knobs::fromEnvironment()
{
    Knobs knobs;
    knobs.startDelay = delayFrom("ORVANE_PROVIDER_START_DELAY_MS", knobs.startDelay);
    knobs.stopDelay = delayFrom("ORVANE_PROVIDER_STOP_DELAY_MS", knobs.stopDelay);
    const char *refuse = std::getenv("ORVANE_PROVIDER_REFUSE_START");
    knobs.refuseStart = refuse && std::string_view(refuse) == "1";
    return knobs;
}

} // namespace ReferenceProvider
