#include "PropertyValue.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace Platform::PropertyFile {

namespace {

constexpr std::string_view dataKey = "$data";
constexpr std::string_view alphabet
    = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const Data &bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t chunk = std::uint32_t(bytes[i]) << 16;
        if (count > 1)
            chunk |= std::uint32_t(bytes[i + 1]) << 8;
        if (count > 2)
            chunk |= bytes[i + 2];
        for (std::size_t j = 0; j < 4; ++j)
            text += j <= count ? alphabet[(chunk >> (18 - 6 * j)) & 0x3f] : '=';
    }
    return text;
}

std::optional<Data> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::array<int, 256> values;
    values.fill(-1);
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        values[static_cast<unsigned char>(alphabet[i])] = int(i);

    Data bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t chunk = 0;
        int padding = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            const bool lastGroup = i + 4 == text.size();
            if (c == '=' && lastGroup && j >= 2) {
                ++padding;
                chunk <<= 6;
                continue;
            }
            const int value = values[static_cast<unsigned char>(c)];
            if (value < 0 || padding > 0)
                return std::nullopt;
            chunk = (chunk << 6) | std::uint32_t(value);
        }
        bytes.push_back(std::uint8_t(chunk >> 16));
        if (padding < 2)
            bytes.push_back(std::uint8_t(chunk >> 8));
        if (padding < 1)
            bytes.push_back(std::uint8_t(chunk));
    }
    return bytes;
}

} // namespace

nlohmann::json encode(const PropertyValue &value)
{
    if (value.is_binary())
        return {{dataKey, base64Encode(value.get_binary())}};
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
            if (auto bytes = base64Decode(stored[dataKey].get_ref<const std::string &>()))
                return PropertyValue::binary(std::move(*bytes));
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
