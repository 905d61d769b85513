#include "BackendClient.h"
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>

using nlohmann::json;

namespace {

const std::string Program = ORVANE_DEVBACKEND_PROGRAM;
const std::string ListeningPrefix = "devbackend: listening on ";

} // namespace

TEST(DevBackendProgramTest, ListensAnswersAndExitsOnSigterm)
{
    TemporaryHome home;
    const std::string data = (home.root() / "data").string();
    ChildProcess child({Program, "--port", "0", "--port", "0", "--data", data});

    std::vector<std::string> urls;
    for (int i = 0; i < 2; ++i) {
        const std::optional<std::string> line = child.readLine();
        ASSERT_TRUE(line) << child.output();
        ASSERT_TRUE(line->starts_with(ListeningPrefix + "http://127.0.0.1:")) << *line;
        urls.push_back(line->substr(ListeningPrefix.size()));
    }
    ASSERT_NE(urls[0], urls[1]);

    // Both ports serve the same state: a token from one works on the other.
    BackendClient first(urls[0]);
    BackendClient second(urls[1]);
    const std::string token = first.signIn("demo@orvane.test", "demo123456");
    EXPECT_EQ(codeOf(second.get("/api/customer/user/getUserInfo", token)), 0);
    EXPECT_EQ(second.get("/api/public/server/getPublicSetting")["data"]["backend_url"],
              urls[0] + "\n" + urls[1]);
    EXPECT_TRUE(std::filesystem::exists(home.root() / "data" / "accounts.json"));

    child.kill(SIGTERM);
    EXPECT_EQ(child.finish(), 0);
    EXPECT_NE(child.output().find("devbackend: GET /api/customer/user/getUserInfo -> 0\n"),
              std::string::npos)
        << child.output();
}

TEST(DevBackendProgramTest, RefusesATakenPortAndBadArguments)
{
    InProcessBackend server;
    const std::string port = std::to_string(server.backend.ports().at(0));
    const std::string data = (server.home.root() / "other").string();

    ChildProcess taken({Program, "--port", port, "--data", data});
    EXPECT_EQ(taken.finish(), 1);
    EXPECT_EQ(taken.output(), "");

    DevBackend::Options options;
    options.ports = {server.backend.ports().at(0)};
    options.dataDirectory = data;
    DevBackend second(options);
    EXPECT_FALSE(second.start());
    EXPECT_NE(second.error().find(port), std::string::npos) << second.error();

    const std::vector<std::vector<std::string>> badArguments = {
        {},
        {"--port", "0"},
        {"--data", data},
        {"--port", "http", "--data", data},
        {"--port", "70000", "--data", data},
        {"--port", "0", "--data"},
        {"--port", "0", "--data", data, "--verbose"},
    };
    for (const std::vector<std::string> &arguments : badArguments) {
        std::vector<std::string> command = {Program};
        command.insert(command.end(), arguments.begin(), arguments.end());
        ChildProcess child(command);
        EXPECT_EQ(child.finish(), 2) << testing::PrintToString(arguments);
    }

    // The server that held the port was not disturbed.
    EXPECT_EQ(codeOf(server.client.get("/api/public/sub/getNodeNames")), 0);
}
