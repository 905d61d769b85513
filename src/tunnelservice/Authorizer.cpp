#include "Authorizer.h"

#include <polkit/polkit.h>

#include <algorithm>

namespace TunnelService {

namespace {

bool polkitAllows(pid_t pid, uid_t uid, std::string &why)
{
    GError *error = nullptr;
    PolkitAuthority *authority = polkit_authority_get_sync(nullptr, &error);
    if (!authority) {
        why = std::string("polkit does not answer: ")
              + (error ? error->message : "no reason given");
        g_clear_error(&error);
        return false;
    }
    PolkitSubject *subject = polkit_unix_process_new_for_owner(pid, 0, gint(uid));
    PolkitAuthorizationResult *result
        = polkit_authority_check_authorization_sync(authority,
                                                    subject,
                                                    Authorizer::action,
                                                    nullptr,
                                                    POLKIT_CHECK_AUTHORIZATION_FLAGS_NONE,
                                                    nullptr,
                                                    &error);
    bool allowed = false;
    if (!result) {
        why = std::string("polkit cannot decide: ") + (error ? error->message : "no reason given");
    } else {
        allowed = polkit_authorization_result_get_is_authorized(result);
        if (!allowed)
            why = "not allowed to control the VPN tunnel (polkit action "
                  + std::string(Authorizer::action) + ")";
        g_object_unref(result);
    }
    g_clear_error(&error);
    g_object_unref(subject);
    g_object_unref(authority);
    return allowed;
}

} // namespace

Authorizer::Authorizer(std::vector<uid_t> allowedUsers)
    : m_allowedUsers(std::move(allowedUsers))
{ }

bool Authorizer::allows(pid_t pid, uid_t uid, std::string &why) const
{
    if (uid == 0)
        return true;
    if (!m_allowedUsers.empty()) {
        if (std::find(m_allowedUsers.begin(), m_allowedUsers.end(), uid) != m_allowedUsers.end())
            return true;
        why = "user " + std::to_string(uid) + " may not control the VPN tunnel";
        return false;
    }
    return polkitAllows(pid, uid, why);
}

} // namespace TunnelService
