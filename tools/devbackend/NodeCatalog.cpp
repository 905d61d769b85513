#include "NodeCatalog.h"

#include <algorithm>

namespace Dev {

namespace {

constexpr std::size_t FreeNodeCount = 2;

} // namespace

NodeCatalog::NodeCatalog()
    : m_names{"香港 01",
              "香港 02",
              "日本 01",
              "新加坡 01",
              "美国 01",
              "台湾 01",
              "韩国 01",
              "英国 01",
              "德国 01",
              "印度尼西亚 01",
              "印度 01",
              "马来西亚 01",
              "泰国 01",
              "加拿大 01"}
{ }

void NodeCatalog::setNames(std::vector<std::string> names)
{
    m_names = std::move(names);
}

void NodeCatalog::setSubscription(std::optional<std::vector<std::string>> names)
{
    m_subscription = std::move(names);
}

std::vector<std::string> NodeCatalog::subscriptionNamesFor(int memberLevel) const
{
    if (m_subscription)
        return *m_subscription;
    const std::size_t count = memberLevel >= 1 ? m_names.size()
                                               : std::min(FreeNodeCount, m_names.size());
    return {m_names.begin(), m_names.begin() + std::ptrdiff_t(count)};
}

nlohmann::json NodeCatalog::subscriptionFor(int memberLevel) const
{
    nlohmann::json nodes = nlohmann::json::array();
    int unlisted = int(m_names.size());
    for (const std::string &name : subscriptionNamesFor(memberLevel)) {
        const int id = idOf(name, unlisted + 1);
        if (id > int(m_names.size()))
            ++unlisted;
        nodes.push_back({{"remarks", name}, {"id", id}});
    }
    return nodes;
}

int NodeCatalog::idOf(const std::string &name, int fallback) const
{
    const auto found = std::find(m_names.begin(), m_names.end(), name);
    return found == m_names.end() ? fallback : int(found - m_names.begin()) + 1;
}

} // namespace Dev
