#include "platform/ProviderChannel.h"

#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A provider that leaves its socket unread for a while still receives every line whole and in
// order once it reads; a line over the limit is refused, never sent in part.
TEST(ProviderChannel, LinesGoOutWholeWhateverTheProviderReads)
{
    TemporaryHome home;
    const auto path = home.runtimeDirectory() / "provider.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    auto channel = Platform::ProviderChannel::connect(path);
    ASSERT_TRUE(channel);
    const int provider = ::accept(listener, nullptr, nullptr);
    const timeval patience{10, 0}; // a line that never comes fails the test instead of hanging it
    ::setsockopt(provider, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    EXPECT_EQ(channel->peerPid(), ::getpid());

    // Far more than the socket holds, while the provider reads nothing.
    constexpr int lines = 40;
    const std::string payload(60 * 1024, 'a');
    for (int i = 0; i < lines; ++i)
        EXPECT_TRUE(channel->send({{"id", i}, {"data", payload}})) << i;
    EXPECT_FALSE(channel->send({{"data", std::string(65 * 1024, 'b')}}));

    std::string received;
    char chunk[65536];
    while (std::count(received.begin(), received.end(), '\n') < lines) {
        const ssize_t count = ::recv(provider, chunk, sizeof chunk, 0);
        ASSERT_GT(count, 0);
        received.append(chunk, std::size_t(count));
    }
    std::size_t start = 0;
    for (int i = 0; i < lines; ++i) {
        const std::size_t end = received.find('\n', start);
        const auto line = nlohmann::json::parse(received.substr(start, end - start), nullptr, false);
        ASSERT_TRUE(line.is_object()) << "line " << i << " is torn";
        EXPECT_EQ(line["id"], i);
        start = end + 1;
    }
    EXPECT_EQ(start, received.size());
    EXPECT_FALSE(channel->stalled());
    ::close(provider);
    ::close(listener);
}
