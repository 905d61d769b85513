#include "GroupPreferences.h"

#include "platform/Log.h"

#include "platform/PreferenceStore.h"

namespace ReferenceProvider {

namespace {

constexpr const char groupIdentifier[] = "group.com.qaromac.wv";
constexpr const char subscriptionKey[] = "qaro_sub_uuid";

} // namespace

std::string groupPreferencesForLog()
{
    Platform::PreferenceStore &store = Platform::PreferenceStore::group(groupIdentifier);
    nlohmann::json shown = nlohmann::json::object();
    for (const char *key : {"qaro_node_name", "qaro_tun_mode"})
        shown[key] = store.value(key).value_or(nullptr);
    // Any value under the uuid's key is treated as the secret, whatever its type.
    const std::optional<Platform::PropertyValue> subscription = store.value(subscriptionKey);
    if (!subscription)
        shown[subscriptionKey] = nullptr;
    else
        shown[subscriptionKey] = Platform::Log::masked(
            subscription->is_string() ? subscription->get<std::string>() : std::string());
    return shown.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace ReferenceProvider
