#include "platform/Bundle.h"

#include "LogRecorder.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <fstream>

using Platform::Bundle;

namespace {

std::filesystem::path makeBundle(const std::filesystem::path &where, const std::string &info)
{
    const auto bundle = where / "Sample.app";
    std::filesystem::create_directories(bundle / "Contents" / "bin");
    std::filesystem::create_directories(bundle / "Contents" / "Resources");
    std::ofstream(bundle / "Contents" / "Info.json") << info;
    std::ofstream(bundle / "Contents" / "Resources" / "install_test.sh") << "true\n";
    return bundle;
}

} // namespace

TEST(Bundle, ReadsItsInformationAndFindsResources)
{
    TemporaryHome home;
    const auto path = makeBundle(home.root(), R"({
        "CFBundleIdentifier": "com.example.sample", "CFBundleShortVersionString": "2.10.1",
        "CFBundleVersion": "77", "CFBundleExecutable": "Sample", "Other": 1})");

    const Bundle bundle(path);
    EXPECT_EQ(bundle.identifier(), "com.example.sample");
    EXPECT_EQ(bundle.shortVersion(), "2.10.1");
    EXPECT_EQ(bundle.version(), "77");
    EXPECT_EQ(bundle.executableName(), "Sample");
    EXPECT_EQ(bundle.pathForResource("install_test.sh"),
              path / "Contents" / "Resources" / "install_test.sh");
    EXPECT_FALSE(bundle.pathForResource("missing.png"));
    EXPECT_FALSE(bundle.pathForResource("../Info.json"));
    EXPECT_FALSE(bundle.pathForResource(""));
}

TEST(Bundle, BrokenOrWronglyTypedInformationReadsAsMissing)
{
    TemporaryHome home;
    LogRecorder log;
    EXPECT_FALSE(Bundle(makeBundle(home.root(), "{ not json")).identifier());
    EXPECT_FALSE(log.systemMessages().empty());

    const Bundle typed(makeBundle(home.root(), R"({"CFBundleShortVersionString": 2})"));
    EXPECT_FALSE(typed.shortVersion());
    EXPECT_FALSE(Bundle(home.root() / "Nothing.app").version());
}

TEST(Bundle, AnExecutableBelongsToTheBundleWhoseBinHoldsIt)
{
    TemporaryHome home;
    const auto path = makeBundle(home.root(), "{}");
    EXPECT_EQ(Bundle::bundleContaining(path / "Contents" / "bin" / "Sample"), path);
    EXPECT_FALSE(Bundle::bundleContaining(home.root() / "bin" / "Sample"));
    std::filesystem::remove(path / "Contents" / "Info.json");
    EXPECT_FALSE(Bundle::bundleContaining(path / "Contents" / "bin" / "Sample"));

    // This test program lies in no bundle: its own directory stands in.
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(Bundle::main().bundlePath(), self.parent_path());
    EXPECT_FALSE(Bundle::main().identifier());
}

TEST(Bundle, TheBuiltBundleCarriesTheProjectVersion)
{
    const Bundle bundle(ORVANE_BUNDLE_DIR);
    EXPECT_EQ(bundle.identifier(), "com.qaromac.wv");
    EXPECT_EQ(bundle.shortVersion(), ORVANE_PROJECT_VERSION);
    EXPECT_EQ(bundle.version(), ORVANE_BUILD_NUMBER);
    EXPECT_EQ(bundle.executableName(), "OrvaneVPN");
}
