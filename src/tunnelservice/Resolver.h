#pragma once

#include "IpAddress.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace TunnelService {

// Makes the system resolve names through the tunnel's DNS servers, and takes that back, through
// whichever of three back-ends this system uses:
// - systemd-resolved, per link, when /etc/resolv.conf points at its stub (D-Bus, sd-bus);
// - resolvconf, when it is installed;
// - else the resolver file itself, whose bytes are kept in a backup and written back. A file
//   that cannot be renamed over (a bind mount answers EBUSY) is rewritten in place. A resolver
//   file that is a symbolic link is replaced by a file, never written through: its target
//   belongs to another program. The backup then keeps the link, and restoring puts it back.
class Resolver
{
public:
    enum class Backend { resolved, resolvconf, file };

    // What apply() did, all that restore() needs: the journal keeps it, so that a later process
    // can undo it after a crash.
    struct Applied
    {
        Backend backend = Backend::file;
        std::string interface;            // resolvconf's record is named after it
        int linkIndex = 0;                // resolved's link
        std::filesystem::path resolvConf; // the file back-end's file
        std::filesystem::path backup;     // and its backup
    };

    // The back-end for this system; resolvConf is normally /etc/resolv.conf.
    static Backend detect(const std::filesystem::path &resolvConf);

    // What apply() will do; record it before calling apply().
    static Applied plan(Backend backend,
                        const std::string &interface,
                        int linkIndex,
                        const std::filesystem::path &resolvConf,
                        const std::filesystem::path &stateDirectory);

    static std::error_code apply(const Applied &plan,
                                 const std::vector<IpPrefix> &servers,
                                 std::string &error);

    // Idempotent: what was never applied, or was restored already, is left as it is.
    static std::error_code restore(const Applied &applied, std::string &error);
};

} // namespace TunnelService
