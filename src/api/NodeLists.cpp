#include "NodeLists.h"

#include "ServiceRequest.h"
#include "UserDefaults.h"
#include "UserDefaultsCacheKeys.h"

namespace {

using Names = NodeLists::Names;
using Reader = std::optional<Names> (*)(const nlohmann::json &data);

bool send(std::string path, std::weak_ptr<int> owner, Reader read, NodeLists::Handler handler)
{
    return ServiceRequest::send({std::move(path),
                                 HTTPMethod::get,
                                 std::nullopt,
                                 BaseUrlPolicy::Kind::lastBaseOnly,
                                 true},
                                std::move(owner),
                                [read, handler = std::move(handler)](
                                    const ServiceRequest::Outcome &outcome) {
                                    std::optional<Names> names;
                                    if (outcome.kind == ServiceRequest::Outcome::Kind::succeeded)
                                        names = read(outcome.data);
                                    if (handler)
                                        handler(names, outcome.error);
                                });
}

} // namespace

std::optional<Names> NodeLists::storeNodeNames(const nlohmann::json &data)
{
    if (!data.is_array())
        return std::nullopt;
    Names names;
    for (const auto &element : data) {
        if (!element.is_string())
            return std::nullopt;
        names.push_back(element.get<std::string>());
    }
    if (!names.empty())
        UserDefaults::standard().set(UserDefaultsCacheKeys::allNodes, names);
    return names;
}

std::optional<Names> NodeLists::storeSubscribeNodes(const nlohmann::json &data)
{
    if (!data.is_array())
        return std::nullopt;
    Names remarks;
    for (const auto &element : data) {
        if (!element.is_object())
            continue;
        const auto remark = element.find("remarks");
        if (remark != element.end() && remark->is_string())
            remarks.push_back(remark->get<std::string>());
    }
    if (!remarks.empty())
        UserDefaults::standard().set(UserDefaultsCacheKeys::subNodes, remarks);
    return remarks;
}

bool NodeLists::loadNodeNames(std::weak_ptr<int> owner, Handler handler)
{
    return send(KvApi::nodeNamesPath, std::move(owner), storeNodeNames, std::move(handler));
}

bool NodeLists::loadSubscribeNodeList(std::weak_ptr<int> owner, Handler handler)
{
    const std::int64_t serverId = UserDefaults::standard().integer(UserDefaultsCacheKeys::serverId);
    if (serverId < 1)
        return false;
    return send(KvApi::subscribeNodeListPath + std::to_string(serverId),
                std::move(owner),
                storeSubscribeNodes,
                std::move(handler));
}
