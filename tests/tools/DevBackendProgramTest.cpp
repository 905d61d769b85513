#include "BackendClient.h"
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

using nlohmann::json;

namespace {

const std::string Program = ORVANE_DEVBACKEND_PROGRAM;
const std::string ListeningPrefix = "devbackend: listening on ";

std::string contentsOf(const std::filesystem::path &path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

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
        {"--port", "0", "--data", data, "--device-hook", ""},
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

TEST(DevBackendProgramTest, RunsTheDeviceHookBeforeAnsweringANewKey)
{
    TemporaryHome home;
    // Records its arguments, and fails while a marker file is there.
    const std::filesystem::path hook = home.root() / "hook";
    std::ofstream(hook) << "#!/bin/sh\n"
                           "printf '%s\\n' \"$*\" >> \"$0.calls\"\n"
                           "[ ! -e \"$0.fail\" ]\n";
    std::filesystem::permissions(hook, std::filesystem::perms::owner_all);
    const std::filesystem::path calls = hook.string() + ".calls";
    const std::filesystem::path failMarker = hook.string() + ".fail";
    ChildProcess child({Program,
                        "--port",
                        "0",
                        "--data",
                        (home.root() / "data").string(),
                        "--device-hook",
                        hook.string()});
    const std::optional<std::string> line = child.readLine();
    ASSERT_TRUE(line && line->starts_with(ListeningPrefix)) << child.output();
    BackendClient client(line->substr(ListeningPrefix.size()));
    ASSERT_EQ(codeOf(client.post("/_dev/users",
                                 {{"email", "demo@orvane.test"}, {"sub_uuid", "demo-uuid"}})),
              0);
    const auto getTunnel = [&](const std::string &key) {
        return client.post("/api/public/sub/getTunnel",
                           {{"sub_uuid", "demo-uuid"}, {"public_key", key}});
    };
    const std::string first = publicKeyOf('B');
    const std::string second = publicKeyOf('C');

    EXPECT_EQ(codeOf(getTunnel(first)), 0);
    EXPECT_EQ(contentsOf(calls), first + " 198.18.0.2/32\n");
    EXPECT_EQ(codeOf(getTunnel(first)), 0);
    EXPECT_EQ(contentsOf(calls), first + " 198.18.0.2/32\n");

    // A failed hook leaves the key unregistered, so the next request runs it again.
    std::ofstream{failMarker};
    EXPECT_EQ(getTunnel(second),
              json::parse(R"({"code": 500, "msg": "服务器内部错误", "data": null})"));
    EXPECT_EQ(codeOf(getTunnel(second)), 500);
    std::filesystem::remove(failMarker);
    EXPECT_EQ(getTunnel(second)["data"]["addresses"], json::array({"198.18.0.3/32"}));
    const std::string secondCall = second + " 198.18.0.3/32\n";
    EXPECT_EQ(contentsOf(calls), first + " 198.18.0.2/32\n" + secondCall + secondCall + secondCall);

    child.kill(SIGTERM);
    EXPECT_EQ(child.finish(), 0);
    const std::string &log = child.output();
    EXPECT_NE(log.find("devbackend: device hook failed: " + hook.string() + " exited with code 1\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("devbackend: device CCCC****CCA= registered as 198.18.0.3/32\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(second), std::string::npos) << log;
    EXPECT_EQ(log.find("demo-uuid"), std::string::npos) << log;
}
