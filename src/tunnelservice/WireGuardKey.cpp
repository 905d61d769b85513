#include "WireGuardKey.h"

#include "platform/Base64.h"
#include "platform/Log.h"

namespace TunnelService {

WireGuardKey::WireGuardKey(std::array<std::uint8_t, 32> bytes, std::string base64)
    : m_bytes(bytes)
    , m_base64(std::move(base64))
{ }

std::optional<WireGuardKey> WireGuardKey::parse(std::string_view base64)
{
    if (base64.size() != 44)
        return std::nullopt;
    const auto decoded = Platform::Base64::decode(base64);
    if (!decoded || decoded->size() != 32)
        return std::nullopt;
    std::array<std::uint8_t, 32> bytes;
    std::copy(decoded->begin(), decoded->end(), bytes.begin());
    return WireGuardKey(bytes, std::string(base64));
}

std::string WireGuardKey::hex() const
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : m_bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xf];
    }
    return text;
}

std::string WireGuardKey::masked() const
{
    return Platform::Log::masked(m_base64);
}

} // namespace TunnelService
