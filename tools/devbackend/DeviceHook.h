#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace Dev {

// The program the backend runs as "PROGRAM <public key> <address>..." when a device registers a
// new key, so that the lab's WireGuard nodes know the device before its first handshake. It is
// looked up in PATH unless it has a slash, and its output goes to the backend's stderr.
class DeviceHook
{
public:
    explicit DeviceHook(std::filesystem::path program,
                        std::chrono::milliseconds cap = std::chrono::seconds(10));

    // Runs the program and waits for it, killing it and what it started once the cap has
    // passed. An empty string when it exited with 0, else why it failed.
    std::string run(const std::string &publicKey, const std::vector<std::string> &addresses) const;

private:
    std::filesystem::path m_program;
    std::chrono::milliseconds m_cap;
};

} // namespace Dev
