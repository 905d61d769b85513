#include "EventLog.h"
#include "GroupPreferences.h"
#include "Knobs.h"
#include "ListeningSocket.h"
#include "Provider.h"
#include "StartOptions.h"
#include "TerminationSignal.h"
#include "TunnelMessages.h"

#include <cerrno>
#include <csignal>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

using namespace ReferenceProvider;

namespace {

// Start options are a few short strings; anything near this size is not from the app.
constexpr std::size_t largestOptions = 1024 * 1024;

constexpr int badStart = 2;
constexpr int cannotStart = 1;

std::optional<std::string> socketPathFrom(int argc, char *argv[])
{
    if (argc != 3 || std::string_view(argv[1]) != "--socket" || argv[2][0] == '\0')
        return std::nullopt;
    return std::string(argv[2]);
}

// Everything on standard input up to its end; nothing when it is too long or cannot be read.
std::optional<std::string> readStandardInput()
{
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count == 0)
            return text;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        text.append(chunk, std::size_t(count));
        if (text.size() > largestOptions)
            return std::nullopt;
    }
}

void pointAtNull(int fd, int flags)
{
    const int null = ::open("/dev/null", flags | O_CLOEXEC);
    if (null < 0 || null == fd)
        return;
    ::dup2(null, fd);
    ::close(null);
}

// The one line the app waits for; standard output is never written again.
void announceReady()
{
    constexpr std::string_view ready = "ready\n";
    while (::write(STDOUT_FILENO, ready.data(), ready.size()) < 0 && errno == EINTR) {
    }
    pointAtNull(STDOUT_FILENO, O_WRONLY);
}

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    // Before anything else, so that an early SIGTERM waits for the loop instead of killing.
    TerminationSignal termination;

    const std::optional<std::string> socketPath = socketPathFrom(argc, argv);
    if (!socketPath)
        return badStart;
    const std::optional<std::string> optionsText = readStandardInput();
    pointAtNull(STDIN_FILENO, O_RDONLY);
    const std::optional<StartOptions> options = optionsText ? StartOptions::parse(*optionsText)
                                                            : std::nullopt;
    EventLog log(EventLog::defaultFile());
    if (!options) {
        log.append("bad start options");
        return badStart;
    }
    log.append("options " + options->maskedJson());
    log.append("preferences " + groupPreferencesForLog());

    const Knobs knobs = Knobs::fromEnvironment();
    if (knobs.refuseStart) {
        log.append("refused start");
        return cannotStart;
    }
    ListeningSocket socket;
    if (!socket.listen(*socketPath)) {
        log.append("cannot listen: " + socket.error());
        return cannotStart;
    }
    announceReady();

    Provider provider(socket,
                      termination,
                      log,
                      TunnelMessages(options->nodeName, options->tunMode),
                      knobs);
    return provider.run();
}
