#pragma once

#include <filesystem>
#include <vector>

#include <sys/types.h>

// The processes running a program that lies inside a directory: the tunnel providers a test
// started from its own installed extensions.
std::vector<pid_t> processesRunningFrom(const std::filesystem::path &directory);

// Kills them all (SIGKILL); a fixture's last word, so no provider outlives its test.
void killProcessesRunningFrom(const std::filesystem::path &directory);
