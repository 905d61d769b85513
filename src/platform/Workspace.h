#pragma once

#include <functional>
#include <string>

namespace Platform::Workspace {

// Asks the desktop to open a URL in the user's default browser (xdg-open, started with an
// argument vector, never through a shell). The completion runs on the main queue with whether
// the desktop reported success.
void openURL(const std::string &url, std::function<void(bool opened)> completion);

} // namespace Platform::Workspace
