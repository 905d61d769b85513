#pragma once

#include <filesystem>
#include <optional>

namespace Platform::XdgDirectories {

// The user's base directories. A variable that is unset, empty or not an absolute path falls
// back to the default under the home directory; nothing is returned when the home directory is
// unknown as well.
std::optional<std::filesystem::path> home();
std::optional<std::filesystem::path> configHome(); // $XDG_CONFIG_HOME, else ~/.config
std::optional<std::filesystem::path> dataHome();   // $XDG_DATA_HOME, else ~/.local/share

// $XDG_RUNTIME_DIR when set to an absolute path; otherwise a private directory under /tmp named
// for the user, made (mode 0700) when missing. Nothing when that directory is not a private one
// of this user's, as someone else may have made it first.
std::optional<std::filesystem::path> runtimeDirectory();

} // namespace Platform::XdgDirectories
