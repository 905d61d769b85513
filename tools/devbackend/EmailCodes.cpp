#include "EmailCodes.h"

#include "Secrets.h"

namespace Dev {

namespace {

constexpr std::time_t CodeLifetime = 10 * 60;

} // namespace

std::string EmailCodes::issue(const std::string &email, const std::string &type, std::time_t now)
{
    const std::string code = Secrets::randomDigits(6);
    m_live[{email, type}] = {code, now + CodeLifetime};
    m_last[email] = code;
    return code;
}

bool EmailCodes::consume(const std::string &email,
                         const std::string &type,
                         const std::string &code,
                         std::time_t now)
{
    if (!isValid(email, type, code, now))
        return false;
    m_live.erase({email, type});
    return true;
}

bool EmailCodes::isValid(const std::string &email,
                         const std::string &type,
                         const std::string &code,
                         std::time_t now) const
{
    const auto found = m_live.find({email, type});
    return found != m_live.end() && found->second.code == code && found->second.expiresAt > now;
}

std::optional<std::string> EmailCodes::last(const std::string &email) const
{
    const auto found = m_last.find(email);
    if (found == m_last.end())
        return std::nullopt;
    return found->second;
}

} // namespace Dev
