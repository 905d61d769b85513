#include "platform/SystemExtensions.h"

#include "InstalledManualQueue.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace Platform;

namespace {

class RecordingDelegate : public SystemExtensionRequestDelegate
{
public:
    SystemExtensionReplacementAction actionForReplacingExtension(
        const SystemExtensionRequest &,
        const SystemExtensionProperties &existing,
        const SystemExtensionProperties &extension) override
    {
        events.push_back("replace? " + existing.bundleShortVersion + " -> "
                         + extension.bundleShortVersion);
        return answer;
    }
    void requestNeedsUserApproval(const SystemExtensionRequest &) override
    {
        events.push_back("approval");
    }
    void didFinishWithResult(const SystemExtensionRequest &,
                             SystemExtensionRequestResult result) override
    {
        events.push_back("finished " + std::to_string(int(result)));
    }
    void didFailWithError(const SystemExtensionRequest &, const SystemExtensionError &error) override
    {
        events.push_back("failed " + std::to_string(error.code) + " " + error.localizedDescription);
    }

    SystemExtensionReplacementAction answer = SystemExtensionReplacementAction::replace;
    std::vector<std::string> events;
};

void writeExtension(const std::filesystem::path &bundle,
                    const std::string &identifier,
                    const std::string &version,
                    const std::string &payload)
{
    const auto extension
        = bundle / "Contents/Library/SystemExtensions/com.qaromac.wv.sysne.systemextension";
    std::filesystem::create_directories(extension / "Contents/bin");
    std::ofstream(extension / "Contents/Info.json")
        << R"({"CFBundleIdentifier": ")" << identifier << R"(", "CFBundleShortVersionString": ")"
        << version << R"(", "CFBundleVersion": "1", "CFBundleExecutable": "provider"})";
    std::ofstream(extension / "Contents/bin/provider") << payload;
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream stream(path);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

class SystemExtensionsTest : public testing::Test
{
protected:
    std::vector<std::string> activate()
    {
        auto request = SystemExtensionRequest::activationRequest("com.qaromac.wv.sysne");
        request->delegate = delegate;
        delegate->events.clear();
        manager.submitRequest(request);
        EXPECT_TRUE(delegate->events.empty()); // answered on the main queue
        queue->runUntilIdle();
        return delegate->events;
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    std::filesystem::path bundle = home.root() / "OrvaneVPN.app";
    std::filesystem::path installed = home.dataHome() / "SystemExtensions";
    std::filesystem::path installedProgram
        = installed / "com.qaromac.wv.sysne.systemextension/Contents/bin/provider";
    LocalSystemExtensionManager manager{bundle, installed};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

} // namespace

TEST_F(SystemExtensionsTest, ActivationInstallsAndReplacesTheApplicationsCopy)
{
    EXPECT_EQ(activate(), std::vector<std::string>{"failed 4 找不到系统扩展。"});

    writeExtension(bundle, "com.qaromac.wv.sysne", "1.0.0", "first");
    EXPECT_EQ(activate(), std::vector<std::string>{"finished 0"});
    EXPECT_EQ(readFile(installedProgram), "first");

    // An installed copy is replaced only when the delegate agrees, whatever its version.
    writeExtension(bundle, "com.qaromac.wv.sysne", "0.9.0", "second");
    delegate->answer = SystemExtensionReplacementAction::cancel;
    EXPECT_EQ(activate(),
              (std::vector<std::string>{"replace? 1.0.0 -> 0.9.0", "failed 11 请求已取消。"}));
    EXPECT_EQ(readFile(installedProgram), "first");

    delegate->answer = SystemExtensionReplacementAction::replace;
    EXPECT_EQ(activate(), (std::vector<std::string>{"replace? 1.0.0 -> 0.9.0", "finished 0"}));
    EXPECT_EQ(readFile(installedProgram), "second");
    // Nothing of the swap is left behind.
    std::vector<std::string> entries;
    for (const auto &entry : std::filesystem::directory_iterator(installed))
        entries.push_back(entry.path().filename());
    EXPECT_EQ(entries, std::vector<std::string>{"com.qaromac.wv.sysne.systemextension"});
}

TEST_F(SystemExtensionsTest, AnExtensionOfAnotherIdentifierIsRefused)
{
    writeExtension(bundle, "com.example.other", "1.0.0", "x");
    EXPECT_EQ(activate(), std::vector<std::string>{"failed 5 系统扩展的标识符不符。"});
    EXPECT_FALSE(std::filesystem::exists(installedProgram));
}

TEST_F(SystemExtensionsTest, WithoutADataDirectoryNothingIsInstalledAnywhere)
{
    writeExtension(bundle, "com.qaromac.wv.sysne", "1.0.0", "x");
    const auto workingDirectory = std::filesystem::current_path();
    std::filesystem::current_path(home.root());
    LocalSystemExtensionManager homeless{bundle, {}};
    auto request = SystemExtensionRequest::activationRequest("com.qaromac.wv.sysne");
    request->delegate = delegate;
    homeless.submitRequest(request);
    queue->runUntilIdle();
    std::filesystem::current_path(workingDirectory);
    EXPECT_EQ(delegate->events,
              std::vector<std::string>{"failed 1 安装系统扩展失败：找不到用户数据目录。"});
    EXPECT_FALSE(std::filesystem::exists(home.root() / "com.qaromac.wv.sysne.systemextension"));
}
