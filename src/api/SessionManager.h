#pragma once

#include "DataRequest.h"
#include "ParameterEncoding.h"

#include "platform/Bundle.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Owns the HTTP session: the default headers every request carries, and one worker thread that
// drives all transfers. Redirects are never followed (an answer goes back to its sender only),
// and only http and https are spoken. Completions are delivered on the main queue.
class SessionManager
{
public:
    struct Configuration
    {
        HTTPHeaders defaultHeaders;
        std::chrono::milliseconds connectTimeout{10'000};
        std::chrono::milliseconds requestTimeout{30'000}; // the whole exchange
        std::size_t maximumBodySize = 8 * 1024 * 1024;

        // The default session's: headers for the main bundle, the user's languages and this
        // system. ORVANE_REQUEST_TIMEOUT_MS, a whole number of milliseconds above zero, replaces
        // the time limit of the whole exchange (tests shorten it); it bounds connecting too.
        static Configuration standard();
    };

    // The headers every request carries, before its own (which win on equal names).
    static HTTPHeaders defaultHTTPHeaders(const Platform::Bundle &bundle,
                                          const std::vector<std::string> &preferredLanguages,
                                          const std::string &system);

    // "Linux 6.1.0": the system's name and its kernel release as major.minor.patch.
    static std::string systemNameAndVersion();

    // The process-wide session, made on first use.
    static SessionManager &defaultManager();

    explicit SessionManager(Configuration configuration);
    ~SessionManager();

    SessionManager(const SessionManager &) = delete;
    SessionManager &operator=(const SessionManager &) = delete;

    const Configuration &configuration() const { return m_configuration; }

    // Starts an exchange at once. A URL that is not an http or https URL, or parameters that
    // cannot be encoded, complete it with that error without touching the network. With a
    // delivery shared with other exchanges, the request is sent only if this exchange claims it.
    std::shared_ptr<DataRequest> request(const std::string &url,
                                         HTTPMethod method,
                                         const std::optional<Parameters> &parameters,
                                         const ParameterEncoding &encoding,
                                         const std::optional<HTTPHeaders> &headers,
                                         std::shared_ptr<SingleDelivery> delivery = nullptr);

private:
    struct Transfer;
    struct Inbox;

    void run();
    void stop(std::uint64_t number);
    void finish(void *easy, int result);
    void fail(const std::shared_ptr<DataRequest> &request, ResponseError error) const;

    const Configuration m_configuration;
    void *m_multi; // the curl multi handle, used by the worker only

    // What the main thread hands the worker, shared with the requests so that cancelling one
    // stays safe once the session has gone.
    std::shared_ptr<Inbox> m_inbox;
    // The live transfers by their curl handle, guarded by the inbox's lock: the main thread
    // adds, the worker starts and removes.
    std::map<void *, std::unique_ptr<Transfer>> m_live;

    std::thread m_worker;
};
