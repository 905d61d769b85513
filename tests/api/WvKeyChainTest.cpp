#include "api/WvKeyChain.h"
#include "platform/Keychain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

std::string uniqueAccount()
{
    std::random_device random;
    return "wvkeychain." + std::to_string(random()) + std::to_string(random());
}

} // namespace

TEST(WvKeyChain, SavesOnceAndLoadsUtf8Text)
{
    const char *flag = std::getenv("ORVANE_TEST_KEYRING");
    if (!flag || std::string(flag) != "1")
        GTEST_SKIP() << "needs the unlocked keyring that scripts/test provides";

    const std::string account = uniqueAccount();
    EXPECT_FALSE(WvKeyChain::loadString(account));
    WvKeyChain::saveString(account, "macOS-设备");
    EXPECT_EQ(WvKeyChain::loadString(account), "macOS-设备");
    WvKeyChain::saveString(account, "replacement");
    EXPECT_EQ(WvKeyChain::loadString(account), "macOS-设备");

    // Data that is not UTF-8 text reads as no item at all.
    const std::string binary = uniqueAccount();
    ASSERT_TRUE(Platform::Keychain::addGenericPassword(binary, "\xff\xfe\x80"));
    EXPECT_FALSE(WvKeyChain::loadString(binary));
    const std::string overlong = uniqueAccount();
    ASSERT_TRUE(Platform::Keychain::addGenericPassword(overlong, "\xc0\xaf"));
    EXPECT_FALSE(WvKeyChain::loadString(overlong));
}
