#include "Workspace.h"

#include "Dispatch.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace Platform::Workspace {

void openURL(const std::string &url, std::function<void(bool opened)> completion)
{
    std::string program = "xdg-open";
    std::string argument = url;
    char *arguments[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, arguments, environ) != 0) {
        mainQueue().async([completion] { completion(false); });
        return;
    }
    // xdg-open may take a while to hand the page over; wait for it off the main thread.
    std::thread([pid, completion = std::move(completion)] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        const bool opened = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        mainQueue().async([completion, opened] { completion(opened); });
    }).detach();
}

} // namespace Platform::Workspace
