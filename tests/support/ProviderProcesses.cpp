#include "ProviderProcesses.h"

#include <csignal>
#include <string>
#include <system_error>

std::vector<pid_t> processesRunningFrom(const std::filesystem::path &directory)
{
    std::vector<pid_t> found;
    const std::string prefix = directory.lexically_normal().string() + "/";
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code unreadable;
        const auto executable = std::filesystem::read_symlink(entry.path() / "exe", unreadable);
        if (!unreadable && executable.string().starts_with(prefix))
            found.push_back(pid_t(std::stol(name)));
    }
    return found;
}

void killProcessesRunningFrom(const std::filesystem::path &directory)
{
    for (const pid_t pid : processesRunningFrom(directory))
        ::kill(pid, SIGKILL);
}
