#include "Firewall.h"

#include <cstdio>
#include <memory>

#include <nftables/libnftables.h>

namespace TunnelService {

namespace {

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNameCharacter(char c)
{
    return isLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Both names end up in the ruleset's text, so only plain ones are taken.
bool isTableName(const std::string &name)
{
    if (name.empty() || name.size() > 64 || !isLetter(name.front()))
        return false;
    for (char c : name) {
        if (!isNameCharacter(c))
            return false;
    }
    return true;
}

bool isInterfaceName(const std::string &name)
{
    if (name.empty() || name.size() > 15)
        return false;
    for (char c : name) {
        if (!isNameCharacter(c) && c != '.')
            return false;
    }
    return true;
}

// Runs commands as one transaction: all of them take effect, or none.
std::error_code run(const std::string &commands, std::string &error)
{
    const std::unique_ptr<nft_ctx, decltype(&nft_ctx_free)> context(nft_ctx_new(NFT_CTX_DEFAULT),
                                                                    &nft_ctx_free);
    if (!context) {
        error = "cannot create an nftables context";
        return std::make_error_code(std::errc::not_enough_memory);
    }
    nft_ctx_buffer_output(context.get());
    nft_ctx_buffer_error(context.get());
    if (nft_run_cmd_from_buffer(context.get(), commands.c_str()) == 0)
        return {};
    const char *message = nft_ctx_get_error_buffer(context.get());
    error = message && *message ? message : "nftables refused the ruleset";
    return std::make_error_code(std::errc::io_error);
}

} // namespace

std::error_code Firewall::install(const std::string &table,
                                  const std::string &interface,
                                  const Marks &marks,
                                  const std::vector<IpPrefix> &addresses,
                                  std::string &error)
{
    if (!isTableName(table) || !isInterfaceName(interface)) {
        error = "not a table or interface name nftables can take: " + table + ", " + interface;
        return std::make_error_code(std::errc::invalid_argument);
    }
    const auto hex = [](std::uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", unsigned(value));
        return std::string(text);
    };
    const std::string engine = hex(marks.engine);
    const std::string tunnelFlows = hex(marks.tunnelFlows);
    const std::string directFlows = hex(marks.directFlows);
    const std::string quoted = "\"" + interface + "\"";
    // Adding the table first makes deleting it safe when it is not there yet.
    std::string commands = "add table inet " + table + "\ndelete table inet " + table + "\n";
    commands += "table inet " + table + " {\n";
    commands += "    chain preraw {\n"
                "        type filter hook prerouting priority raw; policy accept;\n";
    for (const IpPrefix &address : addresses) {
        commands += "        iifname != \"" + interface + "\" ";
        commands += address.family == AF_INET ? "ip daddr " : "ip6 daddr ";
        commands += address.addressText() + " fib saddr type != local drop\n";
    }
    commands += "    }\n"
                "    chain premangle {\n"
                "        type filter hook prerouting priority mangle; policy accept;\n"
                "        meta l4proto udp meta mark set ct mark\n"
                "    }\n";
    // A route chain: the packet is routed again by the mark set here, before it leaves.
    commands += "    chain outroute {\n"
                "        type route hook output priority mangle; policy accept;\n";
    commands += "        ct mark { " + tunnelFlows + ", " + directFlows
                + " } meta mark set ct mark\n";
    commands += "    }\n"
                "    chain postmangle {\n"
                "        type filter hook postrouting priority mangle; policy accept;\n";
    commands += "        meta l4proto udp meta mark " + engine + " ct mark set meta mark\n";
    commands += "        ct state new ct mark 0x00000000 oifname " + quoted + " ct mark set "
                + tunnelFlows + "\n";
    commands += "        ct state new ct mark 0x00000000 oifname != { " + quoted + ", \"lo\" }"
                + " meta mark != " + engine + " ct mark set " + directFlows + "\n";
    commands += "    }\n"
                "}\n";
    return run(commands, error);
}

std::error_code Firewall::remove(const std::string &table, std::string &error)
{
    if (!isTableName(table)) {
        error = "not a table name nftables can take: " + table;
        return std::make_error_code(std::errc::invalid_argument);
    }
    // In one transaction, adding an absent table and deleting it leaves nothing behind either way.
    return run("add table inet " + table + "\ndelete table inet " + table + "\n", error);
}

} // namespace TunnelService
