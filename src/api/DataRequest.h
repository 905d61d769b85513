#pragma once

#include "DataResponse.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct JSONReadingOptions
{
    bool allowFragments = false; // accept a top-level number, string, boolean or null
};

// How far an exchange has come, as it happens.
enum class ExchangeStage {
    connected, // the connection is up and the request is about to be sent on it
    answering, // the first line of the answer has arrived
};

// Shared by the exchanges of one request that is being tried on several servers at once but may
// be delivered to one of them only: the first whose connection is up sends it, and the others end
// before they send a byte, as cancelled. Claimed from the session's worker thread.
class SingleDelivery
{
public:
    bool claim() { return !m_claimed.exchange(true); }

private:
    std::atomic<bool> m_claimed{false};
};

// One exchange, started when it is made (SessionManager::request). Made and used on the main
// thread; its completions run on the main queue once the exchange is over, and the request
// lives until they have run.
class DataRequest : public std::enable_shared_from_this<DataRequest>
{
public:
    using Completion = std::function<void(const DataResponse &)>;
    using StageHandler = std::function<void(ExchangeStage stage)>;

    const URLRequest &request() const { return m_request; }

    // Registers a completion that receives the answer parsed as JSON.
    DataRequest &responseJSON(JSONReadingOptions options, Completion completion);

    // Hears each stage the exchange reaches from now on, on the main queue, before its
    // completions.
    DataRequest &onStage(StageHandler handler);

    // Ends the exchange where it stands: its connection is closed, and no completion or stage
    // handler runs from now on, even for an answer that has already arrived.
    void cancel();

    // Whether the request has gone out, or was about to, on an established connection.
    bool wasSent() const { return m_sent; }

private:
    friend class SessionManager;

    explicit DataRequest(URLRequest request);

    void reach(ExchangeStage stage);
    // The exchange is over; response.result holds JSON parsed with fragments allowed.
    void finish(DataResponse response);
    void deliver();

    URLRequest m_request;
    std::optional<DataResponse> m_response;
    std::vector<std::pair<JSONReadingOptions, Completion>> m_completions;
    StageHandler m_stageHandler;
    std::function<void()> m_stopTransfer; // set by the session while the exchange runs
    bool m_cancelled = false;
    bool m_sent = false;
};
