#include "api/ConsoleRequests.h"
#include "api/DataResponse.h"
#include "api/NetWorkTool.h"
#include "api/NodeLists.h"
#include "api/QaroShared.h"
#include "api/SignInRequests.h"
#include "api/UserDefaultsCacheKeys.h"
#include "api/UserInfo.h"

#include "platform/Log.h"
#include "platform/PreferenceStore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using Keys = UserDefaultsCacheKeys;

const char *const userKeys[] = {Keys::lastOkHost,
                                Keys::backupUrls,
                                Keys::apiToken,
                                Keys::deviceId,
                                Keys::userInfo,
                                Keys::userAccount,
                                Keys::subscribeUuid,
                                Keys::subscribeEnd,
                                Keys::allNodes,
                                Keys::subNodes,
                                Keys::serverId,
                                Keys::lastAmount,
                                Keys::lastAutoLogin,
                                Keys::lastAccountIdPw};
const char *const groupKeys[] = {QaroShared::subUuidKey,
                                 QaroShared::nodeNameKey,
                                 QaroShared::tunModeKey};

// The fuzzer's output is for its findings, not for the client's log.
class SilentLog final : public Platform::LogSink
{
public:
    void standardOutput(std::string_view) override { }
    void systemLog(Platform::LogLevel, std::string_view, std::string_view) override { }
};

// The service-list handler's console, which shows nothing.
class NoScreen final : public ConsoleRequests::Screen
{
public:
    void showToast(const std::string &) override { }
    void showRemainingTraffic(const std::string &) override { }
    void stopTunnelIfActive() override { }
    void refreshAccountInfo() override { }
};

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "reply_fuzzer: %s\n", what.c_str());
    std::abort();
}

// What a store holds must be in its file: the file is a JSON object, and a store that reads
// only the file finds every value the same.
template<std::size_t count>
void expectReadBack(Platform::PreferenceStore &store, const char *const (&keys)[count])
{
    if (std::ifstream in{store.file()}) {
        std::stringstream text;
        text << in.rdbuf();
        if (!nlohmann::json::parse(text.str(), nullptr, false).is_object())
            fail(store.file().string() + " is no JSON object");
    }
    Platform::PreferenceStore fromFile(store.file());
    for (const char *key : keys) {
        if (fromFile.value(key) != store.value(key))
            fail(std::string(key) + " does not read back from " + store.file().string());
    }
}

// Everything the client does with a reply's data once the envelope says it succeeded.
void storeReply(const nlohmann::json &data)
{
    SignInRequests::storeLoginResult(data);
    if (const auto record = UserInfo::stored())
        UserInfo::expiry(*record);
    if (data.is_object())
        UserInfo::store(UserInfo::fromServerUser(data, UserInfo::Source::userInfoReply));
    if (const auto record = UserInfo::stored())
        UserInfo::expiry(*record);

    ConsoleRequests::storePublicSetting(data);
    NetWorkTool::baseUrlList();

    NoScreen screen;
    ConsoleRequests::handleServiceList(data, screen, [](bool, const std::string &) {});

    NodeLists::storeNodeNames(data);
    NodeLists::storeSubscribeNodes(data);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A home of its own: the preference files live there.
    std::string home = (std::filesystem::temp_directory_path() / "orvane-fuzz-XXXXXX").string();
    if (!::mkdtemp(home.data()))
        fail("cannot make a home directory");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    static SilentLog silent;
    Platform::Log::installSink(&silent);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    Platform::PreferenceStore &user = Platform::PreferenceStore::standard();
    Platform::PreferenceStore &group = Platform::PreferenceStore::group(QaroShared::groupIdentifier);
    // Every input starts from no preferences at all.
    std::filesystem::remove(user.file());
    std::filesystem::remove(group.file());

    const std::string body(reinterpret_cast<const char *>(bytes), size);
    DataResponse response;
    response.request = {"http://127.0.0.1:1/api", HTTPMethod::get, {}, std::nullopt};
    response.response = HTTPURLResponse{"http://127.0.0.1:1/api", 200, {}};
    response.data = body;
    response.result = DataResponse::serializeJSON(200, body);

    std::optional<nlohmann::json> data;
    NetWorkTool::handleResponse(response, {}, KvApi::successCode, [&](const nlohmann::json &value) {
        data = value;
    });
    if (data)
        storeReply(*data);

    expectReadBack(user, userKeys);
    expectReadBack(group, groupKeys);
    return 0;
}
