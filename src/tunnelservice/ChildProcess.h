#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace TunnelService {

// Starts a program the service runs (the engine, resolvconf) with the given descriptors as its
// standard input and output (standard error goes with the output), no other descriptors of the
// service, an empty signal mask and SIGPIPE at its default. arguments[0] is the program's name
// as it sees it. Returns the child's PID, or -1 with the reason in error. The caller waits for it.
pid_t spawnChild(const std::filesystem::path &program,
                 const std::vector<std::string> &arguments,
                 int input,
                 int output,
                 std::string &error);

} // namespace TunnelService
