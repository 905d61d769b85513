#include "DeviceRegistry.h"

namespace Dev {

namespace {

// 198.18.0.0/16 without its network address, the .1 a router would take, and its broadcast
// address.
constexpr std::size_t FirstHost = 2;

std::string addressOfHost(std::size_t host)
{
    return "198.18." + std::to_string(host >> 8) + "." + std::to_string(host & 0xff) + "/32";
}

} // namespace

std::optional<std::string> DeviceRegistry::addressOf(const std::string &publicKey) const
{
    const auto found = m_indexByKey.find(publicKey);
    if (found == m_indexByKey.end())
        return std::nullopt;
    return m_devices[found->second].address;
}

std::optional<std::string> DeviceRegistry::nextAddress() const
{
    if (m_devices.size() >= Capacity)
        return std::nullopt;
    return addressOfHost(FirstHost + m_devices.size());
}

std::optional<std::string> DeviceRegistry::add(const std::string &publicKey)
{
    if (std::optional<std::string> known = addressOf(publicKey))
        return known;
    std::optional<std::string> address = nextAddress();
    if (!address)
        return std::nullopt;
    m_indexByKey.emplace(publicKey, m_devices.size());
    m_devices.push_back({publicKey, *address});
    return address;
}

nlohmann::json DeviceRegistry::devices() const
{
    nlohmann::json devices = nlohmann::json::array();
    for (const Device &device : m_devices)
        devices.push_back({{"public_key", device.publicKey},
                           {"addresses", nlohmann::json::array({device.address})}});
    return devices;
}

} // namespace Dev
