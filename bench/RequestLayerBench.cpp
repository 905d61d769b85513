// What a request costs through the client's layer, next to a plain libcurl request to the same
// loopback server in the same run, and how long failing over across three dead bases takes.

#include "api/SessionManager.h"
#include "api/SignInRequests.h"

#include "platform/ManualMainQueue.h"

#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int requestsPerRound = 2000;
constexpr int rounds = 7;
constexpr const char reply[] = R"({"code":0,"msg":"","data":{"backend_url":"http://127.0.0.1"}})";

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

size_t discard(char *, size_t size, size_t count, void *)
{
    return size * count;
}

// Mean microseconds per request of a reused libcurl handle sending the same headers (so the
// server does the same work): connection kept, nothing parsed.
double plainCurlRound(const std::string &url, const HTTPHeaders &headers)
{
    CURL *easy = curl_easy_init();
    curl_slist *list = nullptr;
    for (const auto &[name, value] : headers) {
        if (name == "Accept-Encoding")
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, value.c_str());
        else
            list = curl_slist_append(list, (name + ": " + value).c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
    const auto start = Clock::now();
    for (int i = 0; i < requestsPerRound; ++i)
        curl_easy_perform(easy);
    const auto elapsed = Clock::now() - start;
    curl_easy_cleanup(easy);
    curl_slist_free_all(list);
    return microseconds(elapsed) / requestsPerRound;
}

struct LayerRound
{
    double perRequest; // microseconds, from issuing to the completion on the main queue
    double worstIssue; // microseconds the main queue spent issuing one request, at most
};

LayerRound layerRound(SessionManager &session,
                      Platform::ManualMainQueue &queue,
                      const std::string &url)
{
    double worstIssue = 0;
    const auto start = Clock::now();
    for (int i = 0; i < requestsPerRound; ++i) {
        bool done = false;
        const auto issuing = Clock::now();
        session
            .request(url,
                     HTTPMethod::get,
                     std::nullopt,
                     JSONEncoding::defaultEncoding(),
                     std::nullopt)
            ->responseJSON({}, [&](const DataResponse &) { done = true; });
        worstIssue = std::max(worstIssue, microseconds(Clock::now() - issuing));
        queue.runUntil([&] { return done; }, 10);
    }
    return {microseconds(Clock::now() - start) / requestsPerRound, worstIssue};
}

int refusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Milliseconds from a sign-in to its "no base answered" outcome, with three refused bases.
double failoverRound(Platform::ManualMainQueue &queue)
{
    std::string bases;
    for (int i = 0; i < 3; ++i)
        bases += "http://127.0.0.1:" + std::to_string(refusedPort()) + " ";
    ::setenv("ORVANE_API_BASE_URLS", bases.c_str(), 1);
    SignInRequests requests;
    bool exhausted = false;
    const auto start = Clock::now();
    requests.login("a@b.cn", "secret1", [&](const ServiceRequest::Outcome &outcome) {
        exhausted = outcome.kind == ServiceRequest::Outcome::Kind::exhausted;
    });
    queue.runUntil([&] { return exhausted; }, 10);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main()
{
    // Preferences and the keychain stay out of the user's own.
    const auto home = std::filesystem::temp_directory_path() / "orvane-bench-home";
    std::filesystem::create_directories(home);
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");

    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000000);
    server.Get("/api", [](const httplib::Request &, httplib::Response &response) {
        response.set_content(reply, "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/api";

    Platform::ManualMainQueue queue;
    Platform::installMainQueue(&queue);
    SessionManager session(SessionManager::Configuration::standard());
    const HTTPHeaders &headers = session.configuration().defaultHeaders;
    plainCurlRound(url, headers); // warm both paths up
    layerRound(session, queue, url);

    std::vector<double> plain, layer, ratio, issue;
    for (int round = 0; round < rounds; ++round) {
        plain.push_back(plainCurlRound(url, headers));
        const auto measured = layerRound(session, queue, url);
        layer.push_back(measured.perRequest);
        issue.push_back(measured.worstIssue);
        ratio.push_back(layer.back() / plain.back());
    }
    std::vector<double> failover;
    for (int round = 0; round < rounds; ++round)
        failover.push_back(failoverRound(queue));

    std::printf("request layer, %d requests x %d rounds, medians:\n", requestsPerRound, rounds);
    std::printf("  plain libcurl          %8.1f us/request\n", median(plain));
    std::printf("  SessionManager         %8.1f us/request\n", median(layer));
    std::printf("  ratio                  %8.2f (target <= 1.2)\n", median(ratio));
    std::printf("  worst time issuing     %8.1f us (target < 1000)\n", median(issue));
    std::printf("failover across three refused bases: %.2f ms median (target < 100)\n",
                median(failover));

    Platform::installMainQueue(nullptr);
    server.stop();
    serving.join();
    std::filesystem::remove_all(home);
    return 0;
}
