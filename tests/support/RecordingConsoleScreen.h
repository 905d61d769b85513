#pragma once

#include "api/ConsoleRequests.h"

#include <string>
#include <utility>
#include <vector>

// Writes down what the console's requests ask of the console, in order.
class RecordingConsoleScreen : public ConsoleRequests::Screen
{
public:
    void showToast(const std::string &text) override { events.push_back("toast:" + text); }
    void showRemainingTraffic(const std::string &text) override
    {
        events.push_back("traffic:" + text);
    }
    void stopTunnelIfActive() override { events.push_back("stop"); }
    void refreshAccountInfo() override { events.push_back("refresh"); }

    std::vector<std::string> take() { return std::exchange(events, {}); }

    std::vector<std::string> events;
};
