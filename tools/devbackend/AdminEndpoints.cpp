#include "AdminEndpoints.h"

#include "BackendState.h"
#include "TimeText.h"

#include <httplib.h>

#include <functional>
#include <limits>
#include <map>

namespace Dev {

namespace {

using Check = std::function<bool(const nlohmann::json &)>;

bool isCount(const nlohmann::json &value)
{
    return value.is_number_integer() && value.get<std::int64_t>() >= 0;
}

bool isInt(const nlohmann::json &value)
{
    if (!value.is_number_integer())
        return false;
    const std::int64_t number = value.get<std::int64_t>();
    return number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max();
}

bool isNonNegativeInt(const nlohmann::json &value)
{
    return isInt(value) && value.get<int>() >= 0;
}

bool isBoolOrNull(const nlohmann::json &value)
{
    return value.is_boolean() || value.is_null();
}

bool isStringOrNull(const nlohmann::json &value)
{
    return value.is_string() || value.is_null();
}

bool isStringList(const nlohmann::json &value)
{
    if (!value.is_array())
        return false;
    for (const nlohmann::json &item : value) {
        if (!item.is_string())
            return false;
    }
    return true;
}

bool isStringListOrNull(const nlohmann::json &value)
{
    return value.is_null() || isStringList(value);
}

std::optional<std::vector<std::string>> stringListOrNothing(const nlohmann::json &value)
{
    if (value.is_null())
        return std::nullopt;
    return value.get<std::vector<std::string>>();
}

bool isNameList(const nlohmann::json &value)
{
    if (!value.is_array())
        return false;
    for (const nlohmann::json &name : value) {
        if (!name.is_string() || name.get<std::string>().empty())
            return false;
    }
    return true;
}

// True when every member is known and passes its check; members may be left out.
bool membersPass(const nlohmann::json &body, const std::map<std::string, Check> &checks)
{
    if (!body.is_object())
        return false;
    for (const auto &[name, value] : body.items()) {
        const auto check = checks.find(name);
        if (check == checks.end() || !check->second(value))
            return false;
    }
    return true;
}

// {"name", "endpoint", "public_key"}, all strings and nothing else; only the name is looked at,
// so that tests can hand clients bad endpoints and keys.
bool isTunnelNode(const nlohmann::json &value)
{
    const Check isString = [](const nlohmann::json &v) {
        return v.is_string();
    };
    const std::map<std::string, Check> checks = {
        {"name",
         [](const nlohmann::json &v) {
             return v.is_string() && !v.get<std::string>().empty();
         }},
        {"endpoint", isString},
        {"public_key", isString},
    };
    return membersPass(value, checks) && value.size() == checks.size();
}

bool isTunnelNodeList(const nlohmann::json &value)
{
    if (!value.is_array())
        return false;
    for (const nlohmann::json &node : value) {
        if (!isTunnelNode(node))
            return false;
    }
    return true;
}

} // namespace

std::optional<Result> AdminEndpoints::handle(const httplib::Request &request, std::time_t now)
{
    const std::string &path = request.path;
    if (request.method == "GET") {
        if (path == "/_dev/codes")
            return lastCode(request);
        if (path == "/_dev/requests")
            return success(m_state.requests);
        if (path == "/_dev/tunnel")
            return success(tunnelSettings());
        return std::nullopt;
    }
    if (request.method == "DELETE") {
        if (path == "/_dev/faults") {
            m_state.faults.clear();
            return success();
        }
        if (path == "/_dev/requests") {
            m_state.requests.clear();
            return success();
        }
        return std::nullopt;
    }
    if (request.method != "POST")
        return std::nullopt;

    using Call = Result (AdminEndpoints::*)(const nlohmann::json &);
    static const std::map<std::string, Call> calls = {
        {"/_dev/nodes", &AdminEndpoints::setNodes},
        {"/_dev/public-setting", &AdminEndpoints::setPublicSetting},
        {"/_dev/faults", &AdminEndpoints::addFault},
        {"/_dev/expire-token", &AdminEndpoints::expireTokens},
        {"/_dev/tunnel", &AdminEndpoints::setTunnel},
    };
    const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (path == "/_dev/users")
        return upsertUser(body, now);
    const auto call = calls.find(path);
    if (call == calls.end())
        return std::nullopt;
    return std::invoke(call->second, this, body);
}

Result AdminEndpoints::upsertUser(const nlohmann::json &body, std::time_t now)
{
    const std::map<std::string, Check> checks = {
        {"email",
         [](const nlohmann::json &v) {
             return v.is_string();
         }},
        {"password",
         [](const nlohmann::json &v) {
             return v.is_string() && !v.get<std::string>().empty();
         }},
        {"member_level", isNonNegativeInt},
        {"member_expiry_at",
         [](const nlohmann::json &v) {
             return v.is_string() && parseTimestamp(v.get<std::string>()).has_value();
         }},
        {"expiry_days", isInt},
        {"total_bandwidth", isCount},
        {"used_up", isCount},
        {"used_down", isCount},
        {"service_status", isBoolOrNull},
        {"sub_status", isBoolOrNull},
        {"sub_uuid", isStringOrNull},
        {"has_service",
         [](const nlohmann::json &v) {
             return v.is_boolean();
         }},
    };
    // Everything is checked before anything changes, so a bad call leaves the account alone.
    if (!membersPass(body, checks) || !body.contains("email")
        || (body.contains("member_expiry_at") && body.contains("expiry_days"))) {
        return failure(BadParameter);
    }
    const std::string email = normalizedEmail(body["email"].get<std::string>());
    if (!looksLikeEmail(email))
        return failure(BadEmailAddress);

    Account *account = m_state.accounts.find(email);
    if (!account) {
        account = &m_state.accounts.create(email, AccountStore::DemoPassword, now);
    }
    if (body.contains("password"))
        account->setPassword(body["password"].get<std::string>());
    if (body.contains("member_level"))
        account->memberLevel = body["member_level"].get<int>();
    if (body.contains("member_expiry_at"))
        account->memberExpiresAt = *parseTimestamp(body["member_expiry_at"].get<std::string>());
    if (body.contains("expiry_days"))
        account->memberExpiresAt = now + std::time_t(body["expiry_days"].get<int>()) * 24 * 3600;
    if (body.contains("total_bandwidth"))
        account->service.totalBandwidth = body["total_bandwidth"].get<std::int64_t>();
    if (body.contains("used_up"))
        account->service.usedUp = body["used_up"].get<std::int64_t>();
    if (body.contains("used_down"))
        account->service.usedDown = body["used_down"].get<std::int64_t>();
    if (body.contains("service_status"))
        account->service.serviceStatus = optionalBool(body["service_status"]);
    if (body.contains("sub_status"))
        account->service.subStatus = optionalBool(body["sub_status"]);
    if (body.contains("sub_uuid")) {
        const nlohmann::json &uuid = body["sub_uuid"];
        account->service.subUuid = uuid.is_null() ? std::nullopt
                                                  : std::optional(uuid.get<std::string>());
    }
    if (body.contains("has_service"))
        account->hasService = body["has_service"].get<bool>();
    m_state.saveAccounts();
    return success(account->userObject(false));
}

Result AdminEndpoints::setNodes(const nlohmann::json &body)
{
    const std::map<std::string, Check> checks = {
        {"all", isNameList},
        {"subscription",
         [](const nlohmann::json &v) {
             return v.is_null() || isNameList(v);
         }},
    };
    if (!membersPass(body, checks))
        return failure(BadParameter);
    if (body.contains("all"))
        m_state.nodes.setNames(body["all"].get<std::vector<std::string>>());
    if (body.contains("subscription")) {
        const nlohmann::json &names = body["subscription"];
        m_state.nodes.setSubscription(
            names.is_null() ? std::nullopt : std::optional(names.get<std::vector<std::string>>()));
    }
    const auto &subscription = m_state.nodes.subscription();
    return success(
        {{"all", m_state.nodes.names()},
         {"subscription", subscription ? nlohmann::json(*subscription) : nlohmann::json(nullptr)}});
}

Result AdminEndpoints::setPublicSetting(const nlohmann::json &body)
{
    if (!membersPass(body, {{"backend_url", isStringOrNull}}) || !body.contains("backend_url"))
        return failure(BadParameter);
    const nlohmann::json &url = body["backend_url"];
    m_state.backendUrl = url.is_null() ? std::nullopt : std::optional(url.get<std::string>());
    return success({{"backend_url", url}});
}

Result AdminEndpoints::addFault(const nlohmann::json &body)
{
    const std::map<std::string, Check> checks = {
        {"path",
         [](const nlohmann::json &v) {
             return v.is_string() && v.get<std::string>().starts_with("/api/");
         }},
        {"kind",
         [](const nlohmann::json &v) {
             return v.is_string() && Fault::kindFromName(v.get<std::string>()).has_value();
         }},
        {"delay_ms", isNonNegativeInt},
        {"times",
         [](const nlohmann::json &v) {
             return v.is_null() || (isInt(v) && v.get<int>() > 0);
         }},
    };
    if (!membersPass(body, checks) || !body.contains("path") || !body.contains("kind"))
        return failure(BadParameter);

    Fault fault;
    fault.path = body["path"].get<std::string>();
    fault.kind = *Fault::kindFromName(body["kind"].get<std::string>());
    fault.delayMs = body.value("delay_ms", 0);
    if (body.contains("times") && !body["times"].is_null())
        fault.times = body["times"].get<int>();
    m_state.faults.add(fault);
    return success();
}

Result AdminEndpoints::expireTokens(const nlohmann::json &body)
{
    const Check isString = [](const nlohmann::json &v) {
        return v.is_string();
    };
    if (!membersPass(body, {{"email", isString}}) || !body.contains("email"))
        return failure(BadParameter);
    Account *account = m_state.accounts.find(normalizedEmail(body["email"].get<std::string>()));
    if (!account)
        return failure(NoSuchAccount);
    account->tokens.clear();
    m_state.saveAccounts();
    return success();
}

Result AdminEndpoints::setTunnel(const nlohmann::json &body)
{
    const std::map<std::string, Check> checks = {
        {"nodes", isTunnelNodeList},
        {"direct", isStringListOrNull},
        {"dns", isStringListOrNull},
        {"mtu",
         [](const nlohmann::json &v) {
             return v.is_null() || isInt(v);
         }},
        {"addresses", isStringListOrNull},
        {"raw",
         [](const nlohmann::json &) {
             return true;
         }},
    };
    if (!membersPass(body, checks))
        return failure(BadParameter);

    TunnelCatalog &tunnel = m_state.tunnel;
    if (body.contains("nodes")) {
        std::vector<TunnelNode> nodes;
        for (const nlohmann::json &node : body["nodes"]) {
            nodes.push_back({node["name"].get<std::string>(),
                             node["endpoint"].get<std::string>(),
                             node["public_key"].get<std::string>()});
        }
        tunnel.setNodes(std::move(nodes));
    }
    if (body.contains("direct"))
        tunnel.setDirect(stringListOrNothing(body["direct"]).value_or(std::vector<std::string>()));
    if (body.contains("dns"))
        tunnel.setDns(stringListOrNothing(body["dns"]));
    if (body.contains("mtu")) {
        const nlohmann::json &mtu = body["mtu"];
        tunnel.setMtu(mtu.is_null() ? std::nullopt : std::optional(mtu.get<int>()));
    }
    if (body.contains("addresses"))
        tunnel.setAddresses(stringListOrNothing(body["addresses"]));
    if (body.contains("raw"))
        tunnel.setRaw(body["raw"]);
    return success(tunnelSettings());
}

nlohmann::json AdminEndpoints::tunnelSettings() const
{
    nlohmann::json settings = m_state.tunnel.settings();
    settings["devices"] = m_state.devices.devices();
    return settings;
}

Result AdminEndpoints::lastCode(const httplib::Request &request)
{
    if (!request.has_param("email"))
        return failure(BadParameter);
    const std::optional<std::string> code = m_state.codes.last(
        normalizedEmail(request.get_param_value("email")));
    return success(code ? nlohmann::json{{"code", *code}} : nlohmann::json(nullptr));
}

} // namespace Dev
