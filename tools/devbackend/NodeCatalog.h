#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace Dev {

// The node names the service publishes, and which of them a subscription gets: members of level
// 0 the first two, paying members all of them, unless a fixed list has been set.
class NodeCatalog
{
public:
    NodeCatalog();

    const std::vector<std::string> &names() const { return m_names; }
    void setNames(std::vector<std::string> names);
    const std::optional<std::vector<std::string>> &subscription() const { return m_subscription; }
    void setSubscription(std::optional<std::vector<std::string>> names);

    // The names a member of the level gets, in the subscription's order.
    std::vector<std::string> subscriptionNamesFor(int memberLevel) const;
    // [{"remarks": name, "id": n}] where n is the name's place in the published list, counted
    // from 1 (names outside it are numbered after it).
    nlohmann::json subscriptionFor(int memberLevel) const;

private:
    int idOf(const std::string &name, int fallback) const;

    std::vector<std::string> m_names;
    std::optional<std::vector<std::string>> m_subscription;
};

} // namespace Dev
