#include "SessionManager.h"

#include "ClientPlatform.h"

#include "platform/Dispatch.h"
#include "platform/PreferredLanguages.h"
#include "platform/Text.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include <sys/utsname.h>

namespace {

// The product token of the request layer in the User-Agent, whose layout the service expects.
constexpr const char requestLayerToken[] = "Alamofire";
constexpr const char unknown[] = "Unknown";

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

URLError::Code errorCode(CURLcode code, bool tooLarge)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return URLError::Code::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return URLError::Code::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return URLError::Code::timedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return URLError::Code::secureConnectionFailed;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return URLError::Code::networkConnectionLost;
    case CURLE_WRITE_ERROR:
        return tooLarge ? URLError::Code::dataLengthExceedsMaximum : URLError::Code::unknown;
    case CURLE_BAD_CONTENT_ENCODING:
        return URLError::Code::cannotDecodeContentData;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return URLError::Code::unsupportedURL;
    case CURLE_ABORTED_BY_CALLBACK:
        return URLError::Code::cancelled;
    default:
        return URLError::Code::unknown;
    }
}

} // namespace

// This is the one lock of the client's logic.
struct SessionManager::Inbox
{
    std::mutex mutex;
    std::vector<void *> starting;
    std::vector<std::uint64_t> cancelled; // transfer numbers, which unlike handles are never reused
    std::uint64_t lastNumber = 0;
    CURLM *multi = nullptr; // null once the session has gone
    bool stopping = false;

    void cancel(std::uint64_t number)
    {
        std::lock_guard lock(mutex);
        if (!multi)
            return;
        cancelled.push_back(number);
        curl_multi_wakeup(multi);
    }
};

struct SessionManager::Transfer
{
    std::shared_ptr<DataRequest> request;
    std::shared_ptr<SingleDelivery> delivery;
    std::uint64_t number = 0;
    URLRequest sent;
    CURL *easy = nullptr;
    curl_slist *headerList = nullptr;
    std::size_t maximumBodySize = 0;
    std::string received;
    HTTPHeaders responseHeaders;
    bool tooLarge = false;
    bool answering = false;
    DataResponse::Clock::time_point start;

    void reach(ExchangeStage stage) const
    {
        Platform::mainQueue().async([request = request, stage] { request->reach(stage); });
    }

    // Called once the connection is up, right before the request is written.
    static int beforeSending(void *context, char *, char *, int, int)
    {
        auto *transfer = static_cast<Transfer *>(context);
        if (transfer->delivery && !transfer->delivery->claim())
            return CURL_PREREQFUNC_ABORT;
        transfer->reach(ExchangeStage::connected);
        return CURL_PREREQFUNC_OK;
    }

    ~Transfer()
    {
        curl_slist_free_all(headerList);
        if (easy)
            curl_easy_cleanup(easy);
    }

    static size_t writeBody(char *data, size_t size, size_t count, void *context)
    {
        auto *transfer = static_cast<Transfer *>(context);
        const size_t length = size * count;
        if (transfer->received.size() + length > transfer->maximumBodySize) {
            transfer->tooLarge = true;
            return 0; // ends the transfer with a write error
        }
        transfer->received.append(data, length);
        return length;
    }

    static size_t writeHeader(char *data, size_t size, size_t count, void *context)
    {
        auto *transfer = static_cast<Transfer *>(context);
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            if (!std::exchange(transfer->answering, true))
                transfer->reach(ExchangeStage::answering);
            transfer->responseHeaders.clear(); // a new answer, after 1xx or a proxy's
        } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            const std::string name(Platform::Text::trimmed(line.substr(0, colon)));
            transfer->responseHeaders[name] = Platform::Text::trimmed(line.substr(colon + 1));
        }
        return size * count;
    }
};

SessionManager::Configuration SessionManager::Configuration::standard()
{
    Configuration configuration;
    configuration.defaultHeaders = defaultHTTPHeaders(Platform::Bundle::main(),
                                                      Platform::preferredLanguages(),
                                                      systemNameAndVersion());
    if (const char *limit = std::getenv("ORVANE_REQUEST_TIMEOUT_MS")) {
        char *end = nullptr;
        errno = 0;
        const long long milliseconds = std::strtoll(limit, &end, 10);
        if (end != limit && *end == '\0' && errno == 0 && milliseconds > 0)
            configuration.requestTimeout = std::chrono::milliseconds(milliseconds);
    }
    return configuration;
}

HTTPHeaders SessionManager::defaultHTTPHeaders(const Platform::Bundle &bundle,
                                               const std::vector<std::string> &preferredLanguages,
                                               const std::string &system)
{
    std::string languages;
    for (std::size_t i = 0; i < preferredLanguages.size() && i < 6; ++i) {
        char quality[8];
        std::snprintf(quality, sizeof quality, "%.1f", 1.0 - 0.1 * double(i));
        if (!languages.empty())
            languages += ", ";
        languages += preferredLanguages[i] + ";q=" + quality;
    }

    const auto item = [](const std::optional<std::string> &value) {
        return value.value_or(unknown);
    };
    const std::string userAgent = item(bundle.executableName()) + "/" + item(bundle.shortVersion())
                                  + " (" + item(bundle.identifier())
                                  + "; build:" + item(bundle.version()) + "; " + system + ") "
                                  + requestLayerToken + "/" + item(bundle.shortVersion());
    return {{"Accept-Encoding", "gzip;q=1.0, compress;q=0.5"},
            {"Accept-Language", languages},
            {"User-Agent", userAgent}};
}

std::string SessionManager::systemNameAndVersion()
{
    utsname system{};
    if (::uname(&system) != 0)
        return std::string(ClientPlatform::name) + " " + unknown;
    int parts[3] = {0, 0, 0};
    int found = 0;
    const char *cursor = system.release;
    while (found < 3 && *cursor >= '0' && *cursor <= '9') {
        int value = 0;
        while (*cursor >= '0' && *cursor <= '9')
            value = value * 10 + (*cursor++ - '0');
        parts[found++] = value;
        if (*cursor != '.')
            break;
        ++cursor;
    }
    if (found == 0)
        return std::string(ClientPlatform::name) + " " + unknown;
    char version[48];
    std::snprintf(version, sizeof version, "%d.%d.%d", parts[0], parts[1], parts[2]);
    return std::string(ClientPlatform::name) + " " + version;
}

SessionManager &SessionManager::defaultManager()
{
    static SessionManager manager(Configuration::standard());
    return manager;
}

SessionManager::SessionManager(Configuration configuration)
    : m_configuration(std::move(configuration))
    , m_inbox(std::make_shared<Inbox>())
{
    initialiseCurlOnce();
    m_multi = curl_multi_init();
    m_inbox->multi = m_multi;
    m_worker = std::thread([this] { run(); });
}

SessionManager::~SessionManager()
{
    {
        std::lock_guard lock(m_inbox->mutex);
        m_inbox->stopping = true;
        m_inbox->multi = nullptr;
    }
    curl_multi_wakeup(m_multi);
    m_worker.join();
    for (auto &[easy, transfer] : m_live)
        curl_multi_remove_handle(m_multi, easy);
    m_live.clear();
    curl_multi_cleanup(m_multi);
}

std::shared_ptr<DataRequest> SessionManager::request(const std::string &url,
                                                     HTTPMethod method,
                                                     const std::optional<Parameters> &parameters,
                                                     const ParameterEncoding &encoding,
                                                     const std::optional<HTTPHeaders> &headers,
                                                     std::shared_ptr<SingleDelivery> delivery)
{
    URLRequest sent;
    sent.url = url;
    sent.method = method;
    if (headers)
        sent.headers = *headers;
    if (!isHttpURL(url)) {
        std::shared_ptr<DataRequest> request(new DataRequest(sent));
        fail(request, AFError::invalidURL(url));
        return request;
    }
    if (auto error = encoding.encode(sent, parameters)) {
        std::shared_ptr<DataRequest> request(new DataRequest(sent));
        fail(request, *error);
        return request;
    }
    for (const auto &[name, value] : m_configuration.defaultHeaders)
        sent.headers.emplace(name, value); // the request's own headers win

    auto transfer = std::make_unique<Transfer>();
    transfer->request.reset(new DataRequest(sent));
    transfer->delivery = std::move(delivery);
    transfer->sent = std::move(sent);
    transfer->maximumBodySize = m_configuration.maximumBodySize;
    transfer->start = DataResponse::Clock::now();

    CURL *easy = curl_easy_init();
    transfer->easy = easy;
    const URLRequest &request = transfer->sent;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_configuration.connectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(m_configuration.requestTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::writeHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::beforeSending);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, transfer.get());

    for (const auto &[name, value] : request.headers) {
        // curl writes Accept-Encoding itself so that it can also decode what it asked for.
        if (::strcasecmp(name.c_str(), "Accept-Encoding") == 0) {
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, value.c_str());
            continue;
        }
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        transfer->headerList = curl_slist_append(transfer->headerList, line.c_str());
    }
    transfer->headerList = curl_slist_append(transfer->headerList, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headerList);

    switch (request.method) {
    case HTTPMethod::get:
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        break;
    case HTTPMethod::head:
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        break;
    default:
        if (request.method != HTTPMethod::post)
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, methodName(request.method).c_str());
        if (request.body || request.method == HTTPMethod::post) {
            const char *body = request.body ? request.body->data() : "";
            const auto size = curl_off_t(request.body ? request.body->size() : 0);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, size);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
        }
        break;
    }
    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());

    auto started = transfer->request;
    {
        std::lock_guard lock(m_inbox->mutex);
        transfer->number = ++m_inbox->lastNumber;
        started->m_stopTransfer = [inbox = std::weak_ptr<Inbox>(m_inbox),
                                   number = transfer->number] {
            if (const auto alive = inbox.lock())
                alive->cancel(number);
        };
        m_inbox->starting.push_back(easy);
        m_live.emplace(easy, std::move(transfer));
    }
    curl_multi_wakeup(m_multi);
    return started;
}

void SessionManager::fail(const std::shared_ptr<DataRequest> &request, ResponseError error) const
{
    DataResponse response;
    response.request = request->request();
    response.result = std::move(error);
    response.timeline.requestStart = response.timeline.requestCompleted = DataResponse::Clock::now();
    Platform::mainQueue().async([request, response = std::move(response)]() mutable {
        request->finish(std::move(response));
    });
}

void SessionManager::run()
{
    for (;;) {
        std::vector<std::uint64_t> cancelled;
        {
            std::lock_guard lock(m_inbox->mutex);
            if (m_inbox->stopping)
                return;
            for (void *easy : m_inbox->starting)
                curl_multi_add_handle(m_multi, easy);
            m_inbox->starting.clear();
            cancelled.swap(m_inbox->cancelled);
        }
        for (const std::uint64_t number : cancelled)
            stop(number);
        int running = 0;
        curl_multi_perform(m_multi, &running);
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg == CURLMSG_DONE)
                finish(message->easy_handle, message->data.result);
        }
        curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
    }
}

// Removing a transfer before its end closes its connection rather than keeping it for reuse.
void SessionManager::stop(std::uint64_t number)
{
    std::unique_ptr<Transfer> transfer;
    {
        std::lock_guard lock(m_inbox->mutex);
        const auto it = std::find_if(m_live.begin(), m_live.end(), [number](const auto &live) {
            return live.second->number == number;
        });
        if (it == m_live.end())
            return; // it had ended already
        transfer = std::move(it->second);
        m_live.erase(it);
    }
    curl_multi_remove_handle(m_multi, transfer->easy);
}

void SessionManager::finish(void *easy, int result)
{
    std::unique_ptr<Transfer> transfer;
    {
        std::lock_guard lock(m_inbox->mutex);
        auto it = m_live.find(easy);
        if (it == m_live.end())
            return;
        transfer = std::move(it->second);
        m_live.erase(it);
    }
    curl_multi_remove_handle(m_multi, easy);

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

    DataResponse response;
    response.request = transfer->sent;
    response.timeline.requestStart = transfer->start;
    response.timeline.requestCompleted = DataResponse::Clock::now();
    const auto code = CURLcode(result);
    if (code != CURLE_OK)
        response.result = URLError(errorCode(code, transfer->tooLarge), status > 0);
    else
        response.result = DataResponse::serializeJSON(status, transfer->received);
    if (status > 0) {
        response.response = HTTPURLResponse{transfer->sent.url, status, transfer->responseHeaders};
        response.data = std::move(transfer->received);
    }

    Platform::mainQueue().async(
        [request = std::move(transfer->request), response = std::move(response)]() mutable {
            request->finish(std::move(response));
        });
}
