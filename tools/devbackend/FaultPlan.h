#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Dev {

// Misbehaviour queued by tests for the next requests to one API path.
struct Fault
{
    enum class Kind { Delay, NonJson, Empty, NoContent, ServerError, SignedOut, Redirect };

    std::string path;
    Kind kind = Kind::Delay;
    int delayMs = 0;
    std::optional<int> times; // nothing: every request from now on

    static std::optional<Kind> kindFromName(std::string_view name);
};

class FaultPlan
{
public:
    void add(Fault fault);
    void clear();
    // The first fault for the path, counted as used once.
    std::optional<Fault> take(std::string_view path);

private:
    std::vector<Fault> m_faults;
};

} // namespace Dev
