#include "GroupPreferences.h"
#include "Knobs.h"
#include "ReferenceTunnel.h"
#include "TunnelMessages.h"

#include "tunnelprovider/EventLog.h"
#include "tunnelprovider/ListeningSocket.h"
#include "tunnelprovider/Provider.h"
#include "tunnelprovider/ProviderStart.h"
#include "tunnelprovider/StartOptions.h"
#include "tunnelprovider/TerminationSignal.h"

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
    EventLog log(EventLog::fileInGroup("reference-provider.log"));
    if (!options) {
        log.append("bad start options");
        return badStart;
    }
    log.append("options " + options->maskedJson());
    log.append("preferences " + ReferenceProvider::groupPreferencesForLog());

    const ReferenceProvider::Knobs knobs = ReferenceProvider::Knobs::fromEnvironment();
    if (knobs.refuseStart) {
        log.append("refused start");
        return cannotStart;
    }
    ListeningSocket socket;
    if (!socket.listen(*socketPath)) {
        log.append("cannot listen: " + socket.error());
        return cannotStart;
    }
    ProviderStart::announceReady();

    ReferenceProvider::ReferenceTunnel tunnel(log,
                                              ReferenceProvider::TunnelMessages(options->nodeName,
                                                                                options->tunMode),
                                              knobs);
    Provider provider(socket, termination, log, tunnel);
    return provider.run();
}
