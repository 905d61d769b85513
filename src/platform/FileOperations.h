#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include <sys/types.h>

namespace Platform {

// Replaces a file's contents as one step: the bytes go to a temporary file beside it, reach the
// disk (fsync), and are renamed over the old file. A reader, or a crash at any moment, sees either
// the old file or the new one, never a part of either. The file gets the given mode.
std::error_code writeFileAtomically(const std::filesystem::path &file,
                                    std::string_view contents,
                                    mode_t mode);

// Creates a directory and any missing parents with exactly the given mode (the umask does not
// narrow it). Directories that exist already keep their mode.
std::error_code createDirectories(const std::filesystem::path &directory, mode_t mode);

// Renames a damaged file to "<name>.corrupt-<local time>" (with a number added when that name is
// taken) so that a fresh one can take its place without destroying it. Returns the new name.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path &file,
                                               std::error_code &error);

} // namespace Platform
