#include "DevBackend.h"

#include <charconv>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <string_view>

#include <pthread.h>

namespace {

constexpr const char *Usage
    = "usage: devbackend --port N [--port M ...] --data DIR [--device-hook PROGRAM]\n"
      "  --port N    listen on 127.0.0.1:N (0 picks a free port); repeat for more ports\n"
      "  --data DIR  where accounts.json is kept (created when missing)\n"
      "  --device-hook PROGRAM\n"
      "              run PROGRAM <public key> <address>... when a device key is first\n"
      "              registered, and wait for it before answering\n";

std::optional<int> portFrom(std::string_view text)
{
    int port = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 0
        || port > 65535) {
        return std::nullopt;
    }
    return port;
}

// Reads the command line into options; false when it is not one devbackend understands.
bool parseArguments(int argc, char *argv[], DevBackend::Options &options)
{
    options.ports.clear();
    bool haveData = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (i + 1 >= argc)
            return false;
        const std::string_view value = argv[++i];
        if (argument == "--port") {
            const std::optional<int> port = portFrom(value);
            if (!port)
                return false;
            options.ports.push_back(*port);
        } else if (argument == "--data" && !haveData && !value.empty()) {
            options.dataDirectory = value;
            haveData = true;
        } else if (argument == "--device-hook" && options.deviceHook.empty() && !value.empty()) {
            options.deviceHook = value;
        } else {
            return false;
        }
    }
    return haveData && !options.ports.empty();
}

} // namespace

int main(int argc, char *argv[])
{
    DevBackend::Options options;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << Usage;
        return 0;
    }
    if (!parseArguments(argc, argv, options)) {
        std::cerr << Usage;
        return 2;
    }

    // Blocked before any thread starts, so every thread inherits the mask and only sigwait below
    // sees the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    DevBackend backend(options);
    if (!backend.start()) {
        std::cerr << "devbackend: " << backend.error() << std::endl;
        return 1;
    }
    for (std::size_t i = 0; i < backend.ports().size(); ++i)
        std::cout << "devbackend: listening on " << backend.baseUrl(i) << std::endl;

    int received = 0;
    sigwait(&signals, &received);
    backend.stop();
    return 0;
}
