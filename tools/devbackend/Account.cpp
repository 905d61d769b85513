#include "Account.h"

#include "Secrets.h"
#include "TimeText.h"

#include <stdexcept>

namespace Dev {

namespace {

nlohmann::json optionalJson(const std::optional<bool> &value)
{
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::time_t timestampFrom(const nlohmann::json &value)
{
    const std::optional<std::time_t> time = parseTimestamp(value.get<std::string>());
    if (!time)
        throw std::invalid_argument("bad timestamp " + value.get<std::string>());
    return *time;
}

} // namespace

std::string normalizedEmail(std::string_view email)
{
    std::string normalized(email);
    for (char &c : normalized) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return normalized;
}

bool looksLikeEmail(std::string_view email)
{
    const std::size_t at = email.find('@');
    if (at == 0 || at == std::string_view::npos || email.rfind('@') != at)
        return false;
    for (const char c : email) {
        if (static_cast<unsigned char>(c) <= ' ')
            return false;
    }
    const std::string_view domain = email.substr(at + 1);
    const std::size_t dot = domain.rfind('.');
    return dot != std::string_view::npos && dot > 0 && dot + 1 < domain.size()
           && domain.find("..") == std::string_view::npos && domain.front() != '.';
}

void Account::setPassword(std::string_view password)
{
    m_passwordSalt = Secrets::randomHex(16);
    m_passwordDigest = Secrets::passwordDigest(m_passwordSalt, password);
}

bool Account::passwordMatches(std::string_view password) const
{
    return !m_passwordDigest.empty()
           && Secrets::passwordDigest(m_passwordSalt, password) == m_passwordDigest;
}

nlohmann::json Account::userObject(bool invitationCodeAsText) const
{
    const int invitationCode = 100000 + id;
    return {{"id", id},
            {"user_name", email},
            {"avatar", ""},
            {"invitation_code",
             invitationCodeAsText ? nlohmann::json(std::to_string(invitationCode))
                                  : nlohmann::json(invitationCode)},
            {"member_expiry_at", shanghaiTimestamp(memberExpiresAt)},
            {"member_level", memberLevel}};
}

nlohmann::json Account::serviceObject(std::time_t now) const
{
    nlohmann::json object = {
        {"id", service.id},
        {"total_bandwidth", service.totalBandwidth},
        {"used_up", service.usedUp},
        {"used_down", service.usedDown},
        {"service_status", service.serviceStatus.value_or(memberExpiresAt > now)},
        {"sub_status",
         service.subStatus.value_or(service.usedUp + service.usedDown < service.totalBandwidth)},
    };
    if (service.subUuid)
        object["sub_uuid"] = *service.subUuid;
    return object;
}

nlohmann::json Account::toFile() const
{
    nlohmann::json tokenList = nlohmann::json::array();
    for (const Token &token : tokens)
        tokenList.push_back(
            {{"token", token.value}, {"expires_at", shanghaiTimestamp(token.expiresAt)}});
    return {{"id", id},
            {"email", email},
            {"password_salt", m_passwordSalt},
            {"password_sha256", m_passwordDigest},
            {"member_level", memberLevel},
            {"member_expiry_at", shanghaiTimestamp(memberExpiresAt)},
            {"has_service", hasService},
            {"service",
             {{"id", service.id},
              {"total_bandwidth", service.totalBandwidth},
              {"used_up", service.usedUp},
              {"used_down", service.usedDown},
              {"service_status", optionalJson(service.serviceStatus)},
              {"sub_status", optionalJson(service.subStatus)},
              {"sub_uuid",
               service.subUuid ? nlohmann::json(*service.subUuid) : nlohmann::json(nullptr)}}},
            {"tokens", tokenList}};
}

Account Account::fromFile(const nlohmann::json &entry)
{
    Account account;
    account.id = entry.at("id").get<int>();
    account.email = entry.at("email").get<std::string>();
    account.m_passwordSalt = entry.at("password_salt").get<std::string>();
    account.m_passwordDigest = entry.at("password_sha256").get<std::string>();
    account.memberLevel = entry.at("member_level").get<int>();
    account.memberExpiresAt = timestampFrom(entry.at("member_expiry_at"));
    account.hasService = entry.at("has_service").get<bool>();
    const nlohmann::json &service = entry.at("service");
    account.service.id = service.at("id").get<int>();
    account.service.totalBandwidth = service.at("total_bandwidth").get<std::int64_t>();
    account.service.usedUp = service.at("used_up").get<std::int64_t>();
    account.service.usedDown = service.at("used_down").get<std::int64_t>();
    account.service.serviceStatus = optionalBool(service.at("service_status"));
    account.service.subStatus = optionalBool(service.at("sub_status"));
    if (!service.at("sub_uuid").is_null())
        account.service.subUuid = service.at("sub_uuid").get<std::string>();
    for (const nlohmann::json &token : entry.at("tokens").get<std::vector<nlohmann::json>>()) {
        account.tokens.push_back(
            {token.at("token").get<std::string>(), timestampFrom(token.at("expires_at"))});
    }
    return account;
}

std::optional<bool> optionalBool(const nlohmann::json &value)
{
    return value.is_null() ? std::nullopt : std::optional<bool>(value.get<bool>());
}

} // namespace Dev
