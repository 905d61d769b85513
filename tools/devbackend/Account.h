#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Dev {

struct Token
{
    std::string value;
    std::time_t expiresAt = 0;
};

// The subscription of one account; the statuses follow expiry and traffic unless pinned.
struct Service
{
    int id = 0;
    std::int64_t totalBandwidth = 0;
    std::int64_t usedUp = 0;
    std::int64_t usedDown = 0;
    std::optional<bool> serviceStatus;
    std::optional<bool> subStatus;
    std::optional<std::string> subUuid;
};

class Account
{
public:
    static constexpr std::int64_t GigaByte = std::int64_t(1024) * 1024 * 1024;

    int id = 0;
    std::string email;
    int memberLevel = 0;
    std::time_t memberExpiresAt = 0;
    bool hasService = true;
    Service service;
    std::vector<Token> tokens;

    void setPassword(std::string_view password);
    bool passwordMatches(std::string_view password) const;

    // The user object of the API; sign-in sends the invitation code as text, the profile as a
    // number.
    nlohmann::json userObject(bool invitationCodeAsText) const;
    nlohmann::json serviceObject(std::time_t now) const;

    // The accounts file's form; fromFile throws nlohmann::json errors on a malformed entry.
    nlohmann::json toFile() const;
    static Account fromFile(const nlohmann::json &entry);

private:
    std::string m_passwordSalt;
    std::string m_passwordDigest;
};

// Addresses compare without regard to ASCII case.
std::string normalizedEmail(std::string_view email);
// One "@" with something before it and a dotted domain after it, no spaces.
bool looksLikeEmail(std::string_view email);
// A JSON boolean, or nothing for null (a service flag the backend leaves unset).
std::optional<bool> optionalBool(const nlohmann::json &value);

} // namespace Dev
