#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace Platform {

// The shared container of an application group: a directory in the user's data directory that
// the application and its tunnel provider both reach. Nothing when that directory is unknown.
// The directory itself is not created here.
std::optional<std::filesystem::path> containerForGroup(const std::string &groupIdentifier);

} // namespace Platform
