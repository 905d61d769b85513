#pragma once

#include "TunnelData.h"

#include <atomic>
#include <optional>
#include <string>

namespace TunnelProvider {

// Asks the service's backend for the device's tunnel data: the device's public key is registered
// for the subscription, and the answer holds everything the tunnel needs. Blocking; run it on a
// background job.
class TunnelDataClient
{
public:
    static constexpr const char path[] = "/api/public/sub/getTunnel";

    struct Answer
    {
        std::optional<TunnelData> data;
        std::string reason; // why there is none, in words for people
    };

    // host is the API's base URL; cancelled is checked while the request waits.
    static Answer fetch(const std::string &host,
                        const std::string &subscription,
                        const std::string &publicKey,
                        const std::atomic<bool> &cancelled);

    // The backend's envelope {"code", "msg", "data"} made into an answer.
    static Answer answerFrom(long httpStatus, const std::string &body);
};

} // namespace TunnelProvider
