#include "GroupContainer.h"

#include "XdgDirectories.h"

namespace Platform {

std::optional<std::filesystem::path> containerForGroup(const std::string &groupIdentifier)
{
    if (groupIdentifier.empty() || groupIdentifier.find('/') != std::string::npos)
        return std::nullopt;
    if (auto dataHome = XdgDirectories::dataHome())
        return *dataHome / groupIdentifier;
    return std::nullopt;
}

} // namespace Platform
