#pragma once

#include <string>

// What the console does for the pages and the sign-in panel it hosts.
class PageHost
{
public:
    virtual ~PageHost() = default;

    virtual void showToast(const std::string &message) = 0;
    // Refreshes the title bar from the stored user record, then stops the tunnel when asked.
    virtual void refreshAccountInfo(bool stopTunnel) = 0;
};
