#pragma once

#include "pages/PageHost.h"

#include <string>
#include <vector>

// Stands in for the console that hosts a page or the sign-in panel: keeps every message shown
// and every account refresh asked for.
class RecordingPageHost final : public PageHost
{
public:
    void showToast(const std::string &message) override { messages.push_back(message); }
    void refreshAccountInfo(bool stopTunnel) override { refreshes.push_back(stopTunnel); }

    std::vector<std::string> messages;
    std::vector<bool> refreshes;
};
