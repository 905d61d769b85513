#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

namespace Platform {

// Writes all of contents to a descriptor, going on after signals and short writes.
std::error_code writeAll(int fd, std::string_view contents);

// The same for a socket, without SIGPIPE when the other end is gone. A send timeout that runs
// out ends it with resource_unavailable_try_again.
std::error_code sendAll(int fd, std::string_view contents);

// Replaces a file's contents as one step: the bytes go to a temporary file beside it, reach the
// disk (fsync), and are renamed over the old file. A reader, or a crash at any moment, sees either
// the old file or the new one, never a part of either. The file gets the given mode.
std::error_code writeFileAtomically(const std::filesystem::path &file,
                                    std::string_view contents,
                                    mode_t mode);

// Reads a whole file, and with status the identity of what was read; the error says why it
// could not be opened or read (a missing file: no_such_file_or_directory).
std::error_code readFile(const std::filesystem::path &file,
                         std::string &contents,
                         struct stat *status = nullptr);

// Creates a directory and any missing parents with exactly the given mode (the umask does not
// narrow it). Directories that exist already keep their mode.
std::error_code createDirectories(const std::filesystem::path &directory, mode_t mode);

// Whether a name read from a file may be joined to a directory as one entry of it: not empty,
// not "." or "..", and without "/" or NUL, so it can never lead anywhere else.
bool isPlainFileName(std::string_view name);

// Renames a damaged file to "<name>.corrupt-<local time>" (with a number added when that name is
// taken) so that a fresh one can take its place without destroying it. Returns the new name.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path &file,
                                               std::error_code &error);

} // namespace Platform
