#pragma once

#include "DataResponse.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct JSONReadingOptions
{
    bool allowFragments = false; // accept a top-level number, string, boolean or null
};

// One exchange, started when it is made (SessionManager::request). Made and used on the main
// thread; its completions run on the main queue once the exchange is over, and the request
// lives until they have run.
class DataRequest : public std::enable_shared_from_this<DataRequest>
{
public:
    using Completion = std::function<void(const DataResponse &)>;

    const URLRequest &request() const { return m_request; }

    // Registers a completion that receives the answer parsed as JSON.
    DataRequest &responseJSON(JSONReadingOptions options, Completion completion);

private:
    friend class SessionManager;

    explicit DataRequest(URLRequest request);

    // The exchange is over; response.result holds JSON parsed with fragments allowed.
    void finish(DataResponse response);
    void deliver();

    URLRequest m_request;
    std::optional<DataResponse> m_response;
    std::vector<std::pair<JSONReadingOptions, Completion>> m_completions;
};
