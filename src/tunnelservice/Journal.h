#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <system_error>
#include <vector>

namespace TunnelService {

// What the service is about to change on the host, one JSON object per line, each written and
// on disk before the change it announces. Whatever happens next (the engine, the caller or the
// service itself dying), a later sweep reads it and undoes every change it names.
class Journal
{
public:
    explicit Journal(std::filesystem::path file);

    const std::filesystem::path &file() const { return m_file; }

    std::error_code record(const nlohmann::json &entry);
    // Every whole record in order; a line torn by a crash is passed over.
    std::vector<nlohmann::json> entries() const;
    std::error_code clear();

private:
    std::filesystem::path m_file;
};

} // namespace TunnelService
