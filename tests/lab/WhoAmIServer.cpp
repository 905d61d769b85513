// The lab's HTTP server: every GET is answered with the address the request came from, which
// tells which way it went (direct, through a node, or through the tunnel to a node-only site).
// GET /bytes/N streams N bytes for throughput measurements.
//
//   orvane_lab_whoami --listen 192.0.2.80:80 --listen [2001:db8:80::80]:80

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Endpoint
{
    std::string host;
    int port = 0;
};

struct Listener
{
    Endpoint endpoint;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<bool> finished{false};
};

// Keep-alive connections each hold a worker, so a benchmark with many parallel clients needs
// more than the library's default of eight.
constexpr size_t WorkerThreads = 32;
constexpr size_t ChunkSize = 256 * 1024;

void usage()
{
    std::fprintf(stderr, "usage: orvane_lab_whoami --listen ADDR:PORT [--listen [ADDR6]:PORT]...\n");
}

bool parseEndpoint(const std::string &text, Endpoint &endpoint)
{
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("]:");
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty() || port.empty()
        || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })
        || port.size() > 5)
        return false;
    endpoint.host = host;
    endpoint.port = std::stoi(port);
    return endpoint.port > 0 && endpoint.port < 65536;
}

const char *patternBytes()
{
    static const std::array<char, ChunkSize> chunk = [] {
        std::array<char, ChunkSize> bytes{};
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>('a' + i % 26);
        return bytes;
    }();
    return chunk.data();
}

void serveBytes(const httplib::Request &request, httplib::Response &response)
{
    const std::string digits = request.matches[1];
    if (digits.size() > 15) {
        response.status = 400;
        return;
    }
    const size_t length = std::stoull(digits);
    // Streamed chunk by chunk, so 100 MiB never sits in memory.
    response.set_content_provider(length,
                                  "application/octet-stream",
                                  [](size_t, size_t remaining, httplib::DataSink &sink) {
                                      return sink.write(patternBytes(),
                                                        std::min(remaining, ChunkSize));
                                  });
}

std::unique_ptr<httplib::Server> makeServer()
{
    auto server = std::make_unique<httplib::Server>();
    // Without it every small answer waits ~40 ms for the delayed acknowledgement.
    server->set_tcp_nodelay(true);
    server->set_keep_alive_max_count(100000);
    server->new_task_queue = [] {
        return new httplib::ThreadPool(WorkerThreads);
    };
    server->Get(R"(/bytes/(\d+))", serveBytes);
    server->Get(".*", [](const httplib::Request &request, httplib::Response &response) {
        response.set_content(request.remote_addr, "text/plain");
    });
    return server;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<Endpoint> endpoints;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--listen" && i + 1 < argc) {
            Endpoint endpoint;
            if (!parseEndpoint(argv[++i], endpoint)) {
                std::fprintf(stderr, "orvane_lab_whoami: bad address '%s'\n", argv[i]);
                return 2;
            }
            endpoints.push_back(endpoint);
        } else {
            usage();
            return argument == "--help" ? 0 : 2;
        }
    }
    if (endpoints.empty()) {
        usage();
        return 2;
    }

    // Signals are taken by sigwait below, so that the servers stop and the process exits cleanly.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<Listener>> listeners;
    for (const auto &endpoint : endpoints) {
        auto listener = std::make_unique<Listener>();
        listener->endpoint = endpoint;
        listener->server = makeServer();
        if (!listener->server->bind_to_port(endpoint.host, endpoint.port)) {
            std::fprintf(stderr,
                         "orvane_lab_whoami: cannot listen on %s port %d\n",
                         endpoint.host.c_str(),
                         endpoint.port);
            return 1;
        }
        listeners.push_back(std::move(listener));
    }
    for (auto &listener : listeners) {
        Listener *raw = listener.get();
        listener->thread = std::thread([raw] {
            raw->server->listen_after_bind();
            raw->finished = true;
        });
    }

    // stop() is a no-op until a server runs, so wait for all of them before taking signals.
    bool failed = false;
    for (auto &listener : listeners) {
        while (!listener->server->is_running() && !listener->finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (listener->finished) {
            std::fprintf(stderr,
                         "orvane_lab_whoami: %s port %d stopped\n",
                         listener->endpoint.host.c_str(),
                         listener->endpoint.port);
            failed = true;
        } else {
            std::printf("orvane_lab_whoami: listening on %s port %d\n",
                        listener->endpoint.host.c_str(),
                        listener->endpoint.port);
        }
    }
    std::fflush(stdout);

    if (!failed) {
        int signal = 0;
        sigwait(&signals, &signal);
    }
    for (auto &listener : listeners)
        listener->server->stop();
    for (auto &listener : listeners)
        listener->thread.join();
    return failed ? 1 : 0;
}
