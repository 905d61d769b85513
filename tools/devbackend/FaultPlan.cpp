#include "FaultPlan.h"

namespace Dev {

std::optional<Fault::Kind> Fault::kindFromName(std::string_view name)
{
    if (name == "delay")
        return Kind::Delay;
    if (name == "non-json")
        return Kind::NonJson;
    if (name == "empty")
        return Kind::Empty;
    if (name == "204")
        return Kind::NoContent;
    if (name == "500")
        return Kind::ServerError;
    if (name == "40101")
        return Kind::SignedOut;
    if (name == "redirect")
        return Kind::Redirect;
    return std::nullopt;
}

void FaultPlan::add(Fault fault)
{
    m_faults.push_back(std::move(fault));
}

void FaultPlan::clear()
{
    m_faults.clear();
}

std::optional<Fault> FaultPlan::take(std::string_view path)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->path != path)
            continue;
        const Fault fault = *it;
        if (it->times && --*it->times <= 0)
            m_faults.erase(it);
        return fault;
    }
    return std::nullopt;
}

} // namespace Dev
