#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace TunnelService {

// A WireGuard key (private or public): 32 bytes, written in standard base64 as people and the
// service see it, and in hex as the engine's configuration protocol wants it.
class WireGuardKey
{
public:
    // Nothing for anything but 44 characters of padded base64 that decode to 32 bytes.
    static std::optional<WireGuardKey> parse(std::string_view base64);

    const std::string &base64() const { return m_base64; }
    std::string hex() const;
    // The key as a log may show it: its first and last four characters around "****".
    std::string masked() const;

    bool operator==(const WireGuardKey &other) const = default;

private:
    explicit WireGuardKey(std::array<std::uint8_t, 32> bytes, std::string base64);

    std::array<std::uint8_t, 32> m_bytes;
    std::string m_base64;
};

} // namespace TunnelService
