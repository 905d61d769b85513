#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace Dev {

// The six-digit codes mailed for registering and for resetting a password. A new code replaces
// the previous one of the same address and purpose; a code works once, for ten minutes.
class EmailCodes
{
public:
    std::string issue(const std::string &email, const std::string &type, std::time_t now);
    // True when the code is the live one for that address and purpose; it is then used up.
    bool consume(const std::string &email,
                 const std::string &type,
                 const std::string &code,
                 std::time_t now);
    bool isValid(const std::string &email,
                 const std::string &type,
                 const std::string &code,
                 std::time_t now) const;
    // The last code mailed to the address, used or not.
    std::optional<std::string> last(const std::string &email) const;

private:
    struct Issued
    {
        std::string code;
        std::time_t expiresAt = 0;
    };

    std::map<std::pair<std::string, std::string>, Issued> m_live;
    std::map<std::string, std::string> m_last;
};

} // namespace Dev
