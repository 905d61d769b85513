#include "BackendClient.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <sys/stat.h>

using nlohmann::json;

namespace {

const std::string UserInfo = "/api/customer/user/getUserInfo";
const std::string Login = "/api/public/user/login";

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

mode_t modeOf(const std::filesystem::path &path)
{
    struct stat status;
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::vector<std::string> filesIn(const std::filesystem::path &directory)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

DevBackend::Options optionsFor(const std::filesystem::path &directory, std::ostream &log)
{
    DevBackend::Options options;
    options.dataDirectory = directory;
    options.log = &log;
    return options;
}

} // namespace

TEST(DevBackendStorageTest, StateSurvivesARestartAndACorruptFileIsMovedAside)
{
    TemporaryHome home;
    const std::filesystem::path directory = home.root() / "nested" / "data";
    const std::filesystem::path file = directory / "accounts.json";
    std::ostringstream log;
    std::string token;
    {
        DevBackend backend(optionsFor(directory, log));
        ASSERT_TRUE(backend.start()) << backend.error();
        BackendClient client(backend.baseUrl());
        ASSERT_EQ(codeOf(client.post("/_dev/users",
                                     {{"email", "kept@example.com"},
                                      {"password", "keptsecret"},
                                      {"member_level", 3}})),
                  0);
        token = client.signIn("kept@example.com", "keptsecret");
    }
    EXPECT_EQ(modeOf(file), 0600u);
    const std::string stored = readFile(file);
    EXPECT_EQ(stored.find("keptsecret"), std::string::npos);
    EXPECT_EQ(stored.find("demo123456"), std::string::npos);

    {
        DevBackend backend(optionsFor(directory, log));
        ASSERT_TRUE(backend.start()) << backend.error();
        BackendClient client(backend.baseUrl());
        const json info = client.get(UserInfo, token);
        ASSERT_EQ(codeOf(info), 0) << info.dump();
        EXPECT_EQ(info["data"]["user_name"], "kept@example.com");
        EXPECT_EQ(info["data"]["member_level"], 3);
        EXPECT_EQ(codeOf(client.get(UserInfo, client.signIn("demo@orvane.test", "demo123456"))), 0);
    }

    const std::string garbage = "{\"accounts\": [ this is not json";
    std::ofstream(file, std::ios::trunc) << garbage;
    {
        DevBackend backend(optionsFor(directory, log));
        ASSERT_TRUE(backend.start()) << backend.error();
        BackendClient client(backend.baseUrl());
        EXPECT_EQ(codeOf(client.get(UserInfo, token)), 40101);
        EXPECT_EQ(codeOf(
                      client.post(Login,
                                  {{"user_name", "kept@example.com"}, {"password", "keptsecret"}})),
                  10001);
        EXPECT_EQ(codeOf(client.get(UserInfo, client.signIn("demo@orvane.test", "demo123456"))), 0);
    }
    const std::vector<std::string> files = filesIn(directory);
    ASSERT_EQ(files.size(), 2u) << testing::PrintToString(files);
    EXPECT_EQ(files[0], "accounts.json");
    ASSERT_TRUE(files[1].starts_with("accounts.json.corrupt-")) << files[1];
    EXPECT_EQ(readFile(directory / files[1]), garbage);
}
