#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace TunnelProvider {

// The device's WireGuard key pair. The private key lives in one file of mode 0600, in a directory
// of mode 0700 of its own, and leaves the device only to the local tunnel service; the service's
// backend gets the public key.
class DeviceKey
{
public:
    using Bytes = std::array<std::uint8_t, 32>;

    // <data home>/com.qaromac.wv/wireguard/device.key; nothing when the data home is unknown.
    static std::optional<std::filesystem::path> defaultFile();

    // The key kept in the file, or a new one written there when there is none. A file that does
    // not hold a key is moved aside (note says so) and replaced; one readable by others is made
    // private again. Nothing, with the error, when the key can be neither read nor written.
    static std::optional<DeviceKey> loadOrCreate(const std::filesystem::path &file,
                                                 std::string &error,
                                                 std::string &note);

    // The pair of a private key, clamped as X25519 wants it; nothing when the crypto library
    // refuses it.
    static std::optional<DeviceKey> fromPrivateKey(Bytes privateKey);

    // Both in the standard base64 that WireGuard uses.
    const std::string &privateKey() const { return m_private; }
    const std::string &publicKey() const { return m_public; }

private:
    DeviceKey(std::string privateKey, std::string publicKey);

    std::string m_private;
    std::string m_public;
};

} // namespace TunnelProvider
