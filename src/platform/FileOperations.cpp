#include "FileOperations.h"

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

std::error_code lastError()
{
    return {errno, std::generic_category()};
}

// Hands all of contents to transfer (a write or a send), going on after signals and short
// transfers.
template<typename Transfer>
std::error_code transferAll(std::string_view contents, Transfer transfer)
{
    while (!contents.empty()) {
        const ssize_t done = transfer(contents);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        contents.remove_prefix(std::size_t(done));
    }
    return {};
}

void syncDirectory(const std::filesystem::path &directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::error_code writeAll(int fd, std::string_view contents)
{
    return transferAll(contents, [fd](std::string_view rest) {
        return ::write(fd, rest.data(), rest.size());
    });
}

std::error_code sendAll(int fd, std::string_view contents)
{
    return transferAll(contents, [fd](std::string_view rest) {
        return ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    });
}

std::error_code writeFileAtomically(const std::filesystem::path &file,
                                    std::string_view contents,
                                    mode_t mode)
{
    const std::filesystem::path directory = file.parent_path().empty() ? "." : file.parent_path();
    std::string temporary = (directory / (file.filename().string() + ".tmp-XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return lastError();

    std::error_code error;
    if (::fchmod(fd, mode) != 0)
        error = lastError();
    if (!error)
        error = writeAll(fd, contents);
    if (!error && ::fsync(fd) != 0)
        error = lastError();
    if (::close(fd) != 0 && !error)
        error = lastError();
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0)
        error = lastError();
    if (error) {
        ::unlink(temporary.c_str());
        return error;
    }
    syncDirectory(directory);
    return {};
}

std::error_code readFile(const std::filesystem::path &file,
                         std::string &contents,
                         struct stat *status)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return lastError();
    std::error_code error;
    if (status && ::fstat(fd, status) != 0)
        error = lastError();
    std::string text;
    char buffer[65536];
    while (!error) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            error = lastError();
        if (count <= 0)
            break;
        text.append(buffer, std::size_t(count));
    }
    ::close(fd);
    if (!error)
        contents = std::move(text);
    return error;
}

std::error_code createDirectories(const std::filesystem::path &directory, mode_t mode)
{
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path current = directory; !current.empty();
         current = current.parent_path()) {
        struct stat status;
        if (::stat(current.c_str(), &status) == 0) {
            if (!S_ISDIR(status.st_mode))
                return std::make_error_code(std::errc::not_a_directory);
            break;
        }
        missing.push_back(current);
        if (current == current.parent_path())
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), mode) != 0 && errno != EEXIST)
            return lastError();
        if (::chmod(it->c_str(), mode) != 0)
            return lastError();
    }
    return {};
}

bool isPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".."
           && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::optional<std::filesystem::path> moveAside(const std::filesystem::path &file,
                                               std::error_code &error)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file.string() + ".corrupt-" + stamp;
    std::string aside = base;
    for (int suffix = 1; ::access(aside.c_str(), F_OK) == 0; ++suffix)
        aside = base + "-" + std::to_string(suffix);
    if (::rename(file.c_str(), aside.c_str()) != 0) {
        error = lastError();
        return std::nullopt;
    }
    error.clear();
    return aside;
}

} // namespace Platform
