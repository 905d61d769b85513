#pragma once

#include <optional>
#include <string>

namespace TunnelProvider {

// The steps every provider takes before it serves: its one argument, the app's options on
// standard input, and the "ready" line on standard output.
namespace ProviderStart {

// The path of "--socket PATH", the whole command line; nothing for anything else.
std::optional<std::string> socketPath(int argc, char *argv[]);

// Standard input up to its end, which is then pointed at /dev/null; nothing when it is too long
// for a few options or cannot be read.
std::optional<std::string> readOptions();

// Writes "ready\n" once; standard output is never written again.
void announceReady();

} // namespace ProviderStart

} // namespace TunnelProvider
