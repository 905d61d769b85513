#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Dev {

// The devices that have fetched their tunnel: each WireGuard public key with the tunnel address
// it got when first registered, kept for the backend's lifetime. Addresses count up from
// 198.18.0.2/32 and end at 198.18.255.254/32; they are never reused.
class DeviceRegistry
{
public:
    static constexpr std::size_t Capacity = 65533;

    // The key's address, or nothing for a key that is not registered.
    std::optional<std::string> addressOf(const std::string &publicKey) const;
    // The address the next new key gets, or nothing once every address is taken.
    std::optional<std::string> nextAddress() const;
    // Registers a new key with the next address and returns it (a known key keeps its own);
    // nothing once every address is taken.
    std::optional<std::string> add(const std::string &publicKey);

    // [{"public_key", "addresses": [address]}], in registration order.
    nlohmann::json devices() const;

private:
    struct Device
    {
        std::string publicKey;
        std::string address;
    };

    std::vector<Device> m_devices;
    std::map<std::string, std::size_t> m_indexByKey;
};

} // namespace Dev
