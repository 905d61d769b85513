#include "Base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace Platform::Base64 {

namespace {

constexpr std::string_view alphabet
    = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> decodingTable()
{
    std::array<int, 256> values{};
    values.fill(-1);
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        values[static_cast<unsigned char>(alphabet[i])] = int(i);
    return values;
}

} // namespace

std::string encode(std::string_view bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t chunk = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (count > 1)
            chunk |= std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (count > 2)
            chunk |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t j = 0; j < 4; ++j)
            text += j <= count ? alphabet[(chunk >> (18 - 6 * j)) & 0x3f] : '=';
    }
    return text;
}

std::optional<std::string> decode(std::string_view text)
{
    static constexpr std::array<int, 256> values = decodingTable();
    if (text.size() % 4 != 0)
        return std::nullopt;

    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool lastGroup = i + 4 == text.size();
        std::uint32_t chunk = 0;
        int padding = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
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
        bytes += char(chunk >> 16);
        if (padding < 2)
            bytes += char((chunk >> 8) & 0xff);
        if (padding < 1)
            bytes += char(chunk & 0xff);
    }
    return bytes;
}

} // namespace Platform::Base64
