#include "HostChanges.h"

#include "Engine.h"
#include "Firewall.h"

#include "platform/FileOperations.h"
#include "platform/Log.h"

#include <algorithm>
#include <csignal>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace TunnelService {

namespace {

constexpr const char logCategory[] = "TunnelService";
// Lets answers to the engine's marked packets pass reverse-path filtering.
constexpr const char srcValidMark[] = "/proc/sys/net/ipv4/conf/all/src_valid_mark";
constexpr std::uint32_t mainTable = 254;

void logError(const std::string &what)
{
    Platform::Log::system(Platform::LogLevel::Error, logCategory, what);
}

std::optional<std::string> readSysctl(const std::string &path)
{
    std::string text;
    if (Platform::readFile(path, text))
        return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::error_code writeSysctl(const std::string &path, const std::string &value)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return {errno, std::generic_category()};
    const std::string line = value + "\n";
    std::error_code error;
    if (::write(fd, line.data(), line.size()) != ssize_t(line.size()))
        error = {errno, std::generic_category()};
    ::close(fd);
    return error;
}

IpPrefix everything(int family)
{
    IpPrefix prefix;
    prefix.family = family;
    prefix.length = 0;
    return prefix;
}

nlohmann::json encode(const Netlink::Rule &rule)
{
    nlohmann::json record = {{"family", rule.family == AF_INET ? 4 : 6},
                             {"priority", rule.priority},
                             {"table", rule.table},
                             {"invert", rule.invert}};
    if (rule.fwmark)
        record["fwmark"] = *rule.fwmark;
    if (rule.suppressPrefixLength)
        record["suppressPrefixLength"] = *rule.suppressPrefixLength;
    return record;
}

Netlink::Rule decodeRule(const nlohmann::json &record)
{
    Netlink::Rule rule;
    rule.family = record.value("family", 4) == 6 ? AF_INET6 : AF_INET;
    rule.priority = record.value("priority", 0u);
    rule.table = record.value("table", 0u);
    rule.invert = record.value("invert", false);
    if (record.contains("fwmark"))
        rule.fwmark = record.value("fwmark", 0u);
    if (record.contains("suppressPrefixLength"))
        rule.suppressPrefixLength = record.value("suppressPrefixLength", 0);
    return rule;
}

const char *backendName(Resolver::Backend backend)
{
    switch (backend) {
    case Resolver::Backend::resolved:
        return "resolved";
    case Resolver::Backend::resolvconf:
        return "resolvconf";
    case Resolver::Backend::file:
        break;
    }
    return "file";
}

nlohmann::json encode(const Resolver::Applied &applied)
{
    return {{"backend", backendName(applied.backend)},
            {"interface", applied.interface},
            {"link", applied.linkIndex},
            {"resolvConf", applied.resolvConf.string()},
            {"backup", applied.backup.string()}};
}

Resolver::Applied decodeDns(const nlohmann::json &record)
{
    Resolver::Applied applied;
    const std::string backend = record.value("backend", std::string("file"));
    applied.backend = backend == "resolved"     ? Resolver::Backend::resolved
                      : backend == "resolvconf" ? Resolver::Backend::resolvconf
                                                : Resolver::Backend::file;
    applied.interface = record.value("interface", std::string());
    applied.linkIndex = record.value("link", 0);
    applied.resolvConf = record.value("resolvConf", std::string());
    applied.backup = record.value("backup", std::string());
    return applied;
}

// Ends an engine the journal names, but only the very process it named, and removes the
// configuration socket that a killed engine leaves behind.
void endEngine(const nlohmann::json &record)
{
    const pid_t pid = record.value("pid", 0);
    const unsigned long long start = record.value("start", 0ull);
    if (const int pidfd = pid > 0 ? int(::syscall(SYS_pidfd_open, pid, 0)) : -1; pidfd >= 0) {
        if (processStartTime(pid) == start)
            ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
        ::close(pidfd);
    }
    const std::string interface = record.value("interface", std::string());
    if (Platform::isPlainFileName(interface))
        ::unlink(Engine::uapiSocket(interface).c_str());
}

} // namespace

HostChanges::HostChanges(Settings settings, Journal &journal, Netlink &netlink)
    : m_settings(std::move(settings))
    , m_journal(journal)
    , m_netlink(netlink)
{ }

std::error_code HostChanges::announceInterface()
{
    return m_journal.record({{"link", m_settings.interface}});
}

std::error_code HostChanges::recordEngine(const Engine &engine)
{
    return m_journal.record({{"engine",
                              {{"pid", engine.pid()},
                               {"start", engine.startTime()},
                               {"interface", m_settings.interface}}}});
}

std::vector<Netlink::Rule> HostChanges::rules() const
{
    std::vector<Netlink::Rule> rules;
    for (const int family : {AF_INET, AF_INET6}) {
        // Connections under way keep their way.
        rules.push_back({family,
                         m_settings.rulePriority - 2,
                         mainTable,
                         m_settings.directFlowMark,
                         false,
                         std::nullopt});
        rules.push_back({family,
                         m_settings.rulePriority - 1,
                         m_settings.stickyTable,
                         m_settings.tunnelFlowMark,
                         false,
                         std::nullopt});
        // The main table's own routes win, all but its default; the rest takes the tunnel.
        rules.push_back({family, m_settings.rulePriority, mainTable, std::nullopt, false, 0});
        rules.push_back({family,
                         m_settings.rulePriority + 1,
                         m_settings.table,
                         m_settings.fwmark,
                         true,
                         std::nullopt});
    }
    return rules;
}

std::error_code HostChanges::bringUp(const TunnelParameters &tunnel, std::string &error)
{
    const auto index = m_netlink.linkIndex(m_settings.interface);
    if (!index) {
        error = "the engine made no interface " + m_settings.interface;
        return std::make_error_code(std::errc::no_such_device);
    }
    m_linkIndex = *index;
    const auto failed = [&error](const std::string &what, std::error_code code) {
        error = what + ": " + code.message();
        return code;
    };
    for (const IpPrefix &address : tunnel.addresses) {
        if (const auto code = m_netlink.addAddress(m_linkIndex, address))
            return failed("cannot give the interface " + address.text(), code);
    }
    if (const auto code = m_netlink.setLinkUp(m_linkIndex, tunnel.mtu))
        return failed("cannot bring the interface up", code);

    if (const auto code = m_journal.record({{"firewall", m_settings.firewallTable}}))
        return failed("cannot write the journal", code);
    std::string firewallError;
    if (const auto code = Firewall::install(m_settings.firewallTable,
                                            m_settings.interface,
                                            {m_settings.fwmark,
                                             m_settings.tunnelFlowMark,
                                             m_settings.directFlowMark},
                                            tunnel.addresses,
                                            firewallError))
        return failed("cannot install the firewall table (" + firewallError + ")", code);

    if (const auto previous = readSysctl(srcValidMark); previous && *previous != "1") {
        if (const auto code = m_journal.record(
                {{"sysctl", {{"path", srcValidMark}, {"previous", *previous}}}}))
            return failed("cannot write the journal", code);
        if (const auto code = writeSysctl(srcValidMark, "1"))
            return failed("cannot set " + std::string(srcValidMark), code);
    }

    for (const std::uint32_t table : {m_settings.table, m_settings.stickyTable}) {
        for (const int family : {AF_INET, AF_INET6}) {
            if (const auto code = m_journal.record(
                    {{"table", {{"family", family == AF_INET ? 4 : 6}, {"table", table}}}}))
                return failed("cannot write the journal", code);
            Netlink::Route route{everything(family),
                                 Netlink::RouteType::unicast,
                                 m_linkIndex,
                                 table};
            // Without an IPv6 address in the tunnel, IPv6 fails at once rather than leave outside.
            if (family == AF_INET6 && !tunnel.hasIpv6()) {
                route.type = Netlink::RouteType::unreachable;
                route.device.reset();
            }
            if (const auto code = m_netlink.addRoute(route))
                return failed("cannot route through the tunnel", code);
        }
    }
    if (const auto code = switchRouting({}, tunnel.routing, error))
        return code;

    for (const Netlink::Rule &rule : rules()) {
        if (const auto code = m_journal.record({{"rule", encode(rule)}}))
            return failed("cannot write the journal", code);
        if (const auto code = m_netlink.addRule(rule))
            return failed("cannot add a routing rule", code);
    }
    return {};
}

std::error_code HostChanges::addThrowRoutes(const std::vector<IpPrefix> &networks,
                                            const std::vector<IpPrefix> &except)
{
    for (const IpPrefix &network : networks) {
        if (std::find(except.begin(), except.end(), network) != except.end())
            continue;
        if (const auto code = m_netlink.addRoute(
                {network, Netlink::RouteType::throwRoute, std::nullopt, m_settings.table}))
            return code;
    }
    return {};
}

std::error_code HostChanges::switchRouting(const Routing &from,
                                           const Routing &to,
                                           std::string &error)
{
    const auto directOf = [](const Routing &routing) {
        return routing.mode == RoutingMode::rule ? routing.direct : std::vector<IpPrefix>();
    };
    const std::vector<IpPrefix> before = directOf(from);
    const std::vector<IpPrefix> after = directOf(to);
    if (const auto code = addThrowRoutes(after, before)) {
        error = "cannot route a direct network around the tunnel: " + code.message();
        return code;
    }
    for (const IpPrefix &network : before) {
        if (std::find(after.begin(), after.end(), network) != after.end())
            continue;
        if (const auto code = m_netlink.deleteRoute(
                {network, Netlink::RouteType::throwRoute, std::nullopt, m_settings.table})) {
            error = "cannot route " + network.text() + " through the tunnel: " + code.message();
            return code;
        }
    }
    return {};
}

std::error_code HostChanges::useTunnelDns(const std::vector<IpPrefix> &servers, std::string &error)
{
    if (servers.empty())
        return {};
    const Resolver::Applied plan = Resolver::plan(Resolver::detect(m_settings.resolvConf),
                                                  m_settings.interface,
                                                  m_linkIndex,
                                                  m_settings.resolvConf,
                                                  m_settings.stateDirectory);
    if (const auto code = m_journal.record({{"dns", encode(plan)}})) {
        error = "cannot write the journal: " + code.message();
        return code;
    }
    return Resolver::apply(plan, servers, error);
}

std::error_code HostChanges::restoreDns(std::string &error)
{
    for (const auto &entry : m_journal.entries()) {
        if (entry.contains("dns")) {
            if (const auto code = Resolver::restore(decodeDns(entry["dns"]), error))
                return code;
        }
    }
    return {};
}

void HostChanges::sweep()
{
    const auto entries = m_journal.entries();
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
        undo(*entry);
    if (const auto code = m_journal.clear())
        logError("cannot empty the journal: " + code.message());
    m_linkIndex = 0;
}

void HostChanges::undo(const nlohmann::json &entry)
{
    std::string error;
    std::error_code code;
    // The journal is the service's own, but a record of another shape must not stop the rest.
    try {
        if (entry.contains("dns")) {
            code = Resolver::restore(decodeDns(entry["dns"]), error);
        } else if (entry.contains("rule")) {
            code = m_netlink.deleteRule(decodeRule(entry["rule"]));
        } else if (entry.contains("table")) {
            const auto &table = entry["table"];
            code = m_netlink.flushTable(table.value("family", 4) == 6 ? AF_INET6 : AF_INET,
                                        table.value("table", 0u));
        } else if (entry.contains("sysctl")) {
            const auto &sysctl = entry["sysctl"];
            code = writeSysctl(sysctl.value("path", std::string()),
                               sysctl.value("previous", std::string()));
        } else if (entry.contains("firewall")) {
            code = Firewall::remove(entry.value("firewall", std::string()), error);
        } else if (entry.contains("engine")) {
            endEngine(entry["engine"]);
        } else if (entry.contains("link")) {
            code = m_netlink.deleteLink(entry.value("link", std::string()));
        }
    } catch (const nlohmann::json::exception &) {
        code = std::make_error_code(std::errc::invalid_argument);
    }
    if (code)
        logError("cannot undo " + entry.dump() + ": " + code.message()
                 + (error.empty() ? "" : " (" + error + ")"));
}

} // namespace TunnelService
