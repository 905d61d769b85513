#pragma once

#include "NetWorkTool.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// The console's requests: the user's record, the public settings, the user's service (the
// membership and traffic gate) and the two node lists. The first three rotate through
// NetWorkTool::baseUrlList() with the console's counter requsetCount; what they show goes to
// the console through Screen. An answer for the user that arrives after they signed out or in
// again stores nothing. Everything runs on the main queue, and nothing once this object has gone.
class ConsoleRequests
{
public:
    // What the requests do to the console besides completing.
    class Screen
    {
    public:
        virtual ~Screen() = default;

        virtual void showToast(const std::string &text) = 0;
        virtual void showRemainingTraffic(const std::string &text) = 0;
        virtual void stopTunnelIfActive() = 0;
        virtual void refreshAccountInfo() = 0;
    };

    using UserInfoCompletion = std::function<void(const std::optional<KvNetWorkError> &error)>;
    using ServiceCompletion = std::function<void(bool ok, const std::string &message)>;

    explicit ConsoleRequests(Screen &screen);

    // Needs a stored token (otherwise nothing happens, the completion included). Stores the
    // user's record; the completion gets no error on success.
    void loadUserInfo(UserInfoCompletion completion = {});

    // Stores the backup base URLs, then asks for the user's record and the node names.
    void loadPublicSetting();

    // Stores the service id, the remaining traffic and the subscription uuid, and completes with
    // (true, "") when the tunnel may start, otherwise (false, why), stopping a running tunnel
    // when the membership has expired or the traffic is used up.
    void loadServiceInfo(ServiceCompletion completion);

    void loadSubscribeNodeList();
    void loadNodeNames();

    int requsetCount() const { return *m_requsetCount; }

    // What loadPublicSetting does with a reply's data: stores "backend_url" as the backup base
    // URLs, one per line, when it is a text. Returns whether the data was a dictionary.
    static bool storePublicSetting(const nlohmann::json &data);

    // What loadServiceInfo does with a reply's data: stores what the first service says, tells
    // the screen, and completes.
    static void handleServiceList(const nlohmann::json &data,
                                  Screen &screen,
                                  const ServiceCompletion &completion);

    // What is left of a service's traffic, given in bytes: "10.0 G", "1000.0 M", "-1.0 M".
    // Computed without overflow, whatever 64-bit values arrive.
    static std::string remainingTrafficText(long double total,
                                            long double usedUp,
                                            long double usedDown);

private:
    Screen &m_screen;
    std::shared_ptr<int> m_requsetCount = std::make_shared<int>(0);
};
