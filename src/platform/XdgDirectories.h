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

} // namespace Platform::XdgDirectories
