#pragma once

#include "NetWorkTool.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The service's two node lists, asked only of the base URL that last answered. Each answer of the
// expected shape is stored when it is not empty; the handler then runs on the main queue with the
// list, or with the error, or with neither when the answer had another shape or came after the
// user signed out or in again (then nothing is stored). The handler does
// not run when nothing was sent (no base URL yet, or no service id), nor once owner has gone.
class NodeLists
{
public:
    using Names = std::vector<std::string>;
    using Handler = std::function<void(const std::optional<Names> &names,
                                       const std::optional<KvNetWorkError> &error)>;

    // All node names: a list of texts, kept under "key.qaro.all.nodes".
    static bool loadNodeNames(std::weak_ptr<int> owner, Handler handler);

    // The display names ("remarks") of the subscription's nodes, for the stored service id, kept
    // under "key.qaro.sub.nodes".
    static bool loadSubscribeNodeList(std::weak_ptr<int> owner, Handler handler);

    // What the two calls do with a reply's data: store the list when it has the expected shape
    // and is not empty, and return it; nothing for another shape. Node names must all be texts;
    // of the subscription's nodes, the dictionaries with a text "remarks" count, the rest are
    // passed over.
    static std::optional<Names> storeNodeNames(const nlohmann::json &data);
    static std::optional<Names> storeSubscribeNodes(const nlohmann::json &data);
};
