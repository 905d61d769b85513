#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace TunnelService {

// Who may control tunnels: the process behind a connection, as SO_PEERCRED names it. Normally
// polkit decides, by the service's action (allowed to active local sessions); a service that
// root starts by hand for tests or development may name the users allowed instead. Root is
// always allowed.
class Authorizer
{
public:
    static constexpr const char action[] = "com.qaromac.wv.tunnel.control";

    // No allowed users: polkit decides.
    explicit Authorizer(std::vector<uid_t> allowedUsers);

    // Whether the process may; why not, when it may not.
    bool allows(pid_t pid, uid_t uid, std::string &why) const;

private:
    std::vector<uid_t> m_allowedUsers;
};

} // namespace TunnelService
