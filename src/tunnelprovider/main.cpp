// The WireGuard tunnel provider: keeps the app's provider protocol and moves the packets through
// the privileged tunnel service.

#include "DeviceKey.h"
#include "EventLog.h"
#include "ListeningSocket.h"
#include "Provider.h"
#include "ProviderStart.h"
#include "ServiceConnection.h"
#include "StartOptions.h"
#include "TerminationSignal.h"
#include "WireGuardTunnel.h"

#include <csignal>
#include <optional>
#include <string>

using namespace TunnelProvider;

namespace {

constexpr int badStart = 2;
constexpr int cannotStart = 1;

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    // Before anything else, so that an early SIGTERM waits for the loop instead of killing.
    TerminationSignal termination;

    const std::optional<std::string> socketPath = ProviderStart::socketPath(argc, argv);
    if (!socketPath)
        return badStart;
    const std::optional<std::string> optionsText = ProviderStart::readOptions();
    const std::optional<StartOptions> options = optionsText ? StartOptions::parse(*optionsText)
                                                            : std::nullopt;
    EventLog log(EventLog::fileInGroup("wireguard-provider.log"));
    if (!options) {
        log.append("bad start options");
        return badStart;
    }
    log.append("options " + options->maskedJson());
    const std::optional<std::filesystem::path> keyFile = DeviceKey::defaultFile();
    if (!keyFile) {
        log.append("no data directory for the device key");
        return cannotStart;
    }
    ListeningSocket socket;
    if (!socket.listen(*socketPath)) {
        log.append("cannot listen: " + socket.error());
        return cannotStart;
    }
    ProviderStart::announceReady();

    WireGuardTunnel tunnel(log, *options, {ServiceConnection::defaultSocket(), *keyFile});
    Provider provider(socket, termination, log, tunnel);
    return provider.run();
}
