// orvane-tunnel-service: brings one WireGuard tunnel up for the VPN client's provider and takes
// it down again, leaving the host as it found it. Runs as root, normally started by its systemd
// socket unit; see docs/tunnel-service.md.

#include "HostChanges.h"
#include "Journal.h"
#include "Netlink.h"
#include "TunnelServer.h"

#include "platform/FileOperations.h"
#include "platform/Log.h"

#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using TunnelService::HostChanges;
using TunnelService::TunnelServer;

constexpr const char usage[]
    = "usage: orvane-tunnel-service [--socket PATH] [--state-dir DIR] [--interface NAME]\n"
      "                             [--engine PROGRAM] [--resolv-conf FILE] [--allow-uid N]...\n"
      "                             [--verbose] [--sweep]\n";

// System-log lines also on standard error, for people and tests that run the service by hand.
class StandardErrorSink final : public Platform::LogSink
{
public:
    void standardOutput(std::string_view line) override { std::cerr << line << std::endl; }
    void systemLog(Platform::LogLevel, std::string_view category, std::string_view message) override
    {
        std::cerr << '[' << category << "] " << message << std::endl;
    }
};

struct Arguments
{
    TunnelServer::Options options;
    std::filesystem::path socket = "/run/orvanevpn/tunnel.sock";
    bool verbose = false;
    bool sweepOnly = false;
};

std::optional<Arguments> parse(int argc, char **argv)
{
    Arguments arguments;
    HostChanges::Settings &host = arguments.options.host;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--verbose") {
            arguments.verbose = true;
        } else if (option == "--sweep") {
            arguments.sweepOnly = true;
        } else if (!hasValue) {
            return std::nullopt;
        } else if (option == "--socket") {
            arguments.socket = argv[++i];
        } else if (option == "--state-dir") {
            host.stateDirectory = argv[++i];
        } else if (option == "--interface") {
            host.interface = argv[++i];
        } else if (option == "--engine") {
            arguments.options.engineProgram = argv[++i];
        } else if (option == "--resolv-conf") {
            host.resolvConf = argv[++i];
        } else if (option == "--allow-uid") {
            char *end = nullptr;
            const long uid = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || uid < 0)
                return std::nullopt;
            arguments.options.allowedUsers.push_back(uid_t(uid));
        } else {
            return std::nullopt;
        }
    }
    // The name is one entry of /var/run/wireguard and a link name of at most 15 bytes.
    if (host.interface.empty() || host.interface.size() > 15
        || !Platform::isPlainFileName(host.interface))
        return std::nullopt;
    return arguments;
}

// The listening socket systemd passes, else one of our own at the path, which any local user
// may connect to: the service itself decides who may do what.
int listenOn(const std::filesystem::path &path)
{
    if (::sd_listen_fds(1) == 1)
        return SD_LISTEN_FDS_START;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.string().size() >= sizeof address.sun_path)
        return -1;
    std::strcpy(address.sun_path, path.c_str());
    if (Platform::createDirectories(path.parent_path(), 0755))
        return -1;
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::chmod(path.c_str(), 0666) != 0 || ::listen(fd, 16) != 0)
        return -1;
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    const auto arguments = parse(argc, argv);
    if (!arguments) {
        std::cerr << usage;
        return 2;
    }
    StandardErrorSink standardError;
    if (arguments->verbose)
        Platform::Log::installSink(&standardError);

    const HostChanges::Settings &host = arguments->options.host;
    if (const auto error = Platform::createDirectories(host.stateDirectory, 0755)) {
        std::cerr << "orvane-tunnel-service: cannot make " << host.stateDirectory << ": "
                  << error.message() << "\n";
        return 1;
    }
    std::string error;
    const auto netlink = TunnelService::Netlink::open(error);
    if (!netlink) {
        std::cerr << "orvane-tunnel-service: " << error << "\n";
        return 1;
    }
    // Whatever an earlier run left, after a crash of the engine, its caller or itself, goes.
    TunnelService::Journal journal(host.stateDirectory / "journal");
    HostChanges(host, journal, *netlink).sweep();
    if (arguments->sweepOnly)
        return 0;

    const int listener = listenOn(arguments->socket);
    if (listener < 0) {
        std::cerr << "orvane-tunnel-service: cannot listen on " << arguments->socket << ": "
                  << std::strerror(errno) << "\n";
        return 1;
    }
    TunnelServer(arguments->options, *netlink, listener).run();
    return 0;
}
