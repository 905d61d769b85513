#include "Journal.h"

#include "platform/FileOperations.h"

#include <cerrno>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace TunnelService {

Journal::Journal(std::filesystem::path file)
    : m_file(std::move(file))
{ }

std::error_code Journal::record(const nlohmann::json &entry)
{
    const std::string line = entry.dump() + "\n";
    const int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return {errno, std::generic_category()};
    std::error_code error;
    if (::write(fd, line.data(), line.size()) != ssize_t(line.size()) || ::fsync(fd) != 0)
        error = {errno ? errno : EIO, std::generic_category()};
    ::close(fd);
    return error;
}

std::vector<nlohmann::json> Journal::entries() const
{
    std::string text;
    std::vector<nlohmann::json> result;
    if (Platform::readFile(m_file, text))
        return result;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        auto entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_object())
            result.push_back(std::move(entry));
    }
    return result;
}

std::error_code Journal::clear()
{
    if (::unlink(m_file.c_str()) != 0 && errno != ENOENT)
        return {errno, std::generic_category()};
    return {};
}

} // namespace TunnelService
