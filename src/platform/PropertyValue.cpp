#include "PropertyValue.h"

#include "Base64.h"

#include <optional>
#include <string>
#include <string_view>

namespace Platform::PropertyFile {

namespace {

constexpr std::string_view dataKey = "$data";

} // namespace

nlohmann::json encode(const PropertyValue &value)
{
    if (value.is_binary()) {
        const auto &bytes = value.get_binary();
        return {{dataKey,
                 Base64::encode(std::string_view(reinterpret_cast<const char *>(bytes.data()),
                                                 bytes.size()))}};
    }
    if (value.is_object()) {
        nlohmann::json stored = nlohmann::json::object();
        for (const auto &[key, member] : value.items())
            stored[key] = encode(member);
        return stored;
    }
    if (value.is_array()) {
        nlohmann::json stored = nlohmann::json::array();
        for (const auto &element : value)
            stored.push_back(encode(element));
        return stored;
    }
    return value;
}

PropertyValue decode(const nlohmann::json &stored)
{
    if (stored.is_object()) {
        if (stored.size() == 1 && stored.contains(dataKey) && stored[dataKey].is_string()) {
            if (auto bytes = Base64::decode(stored[dataKey].get_ref<const std::string &>()))
                return PropertyValue::binary(Data(bytes->begin(), bytes->end()));
        }
        PropertyValue value = PropertyValue::object();
        for (const auto &[key, member] : stored.items())
            value[key] = decode(member);
        return value;
    }
    if (stored.is_array()) {
        PropertyValue value = PropertyValue::array();
        for (const auto &element : stored)
            value.push_back(decode(element));
        return value;
    }
    return stored;
}

} // namespace Platform::PropertyFile

std::optional<std::string> Platform::stringMember(const nlohmann::json &object, const char *key)
{
    const auto member = object.find(key);
    if (member == object.end() || !member->is_string())
        return std::nullopt;
    return member->get<std::string>();
}
