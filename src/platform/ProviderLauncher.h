#pragma once

#include "ProviderProcess.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <sys/types.h>

namespace Platform {

// Starts a tunnel provider the way the provider protocol describes (docs/provider-protocol.md):
// in a session of its own, so that it outlives the application, with the start options on its
// standard input (never on its command line) and a pipe on its standard output on which it
// says "ready" once its socket listens.
class ProviderLauncher
{
public:
    struct Launched
    {
        std::shared_ptr<ProviderProcess> process;
        int readyPipe = -1; // the read end; the caller closes it
    };

    // Nothing, with the reason in error, when the program could not be started.
    static std::optional<Launched> launch(const std::filesystem::path &executable,
                                          const std::filesystem::path &socket,
                                          const std::string &options,
                                          std::string &error);

    // Reads the provider's standard output until its "ready" line (true), its end, or, should a
    // descendant keep the pipe open, until seconds have passed (false).
    static bool waitUntilReady(int readyPipe, double seconds);
};

} // namespace Platform
