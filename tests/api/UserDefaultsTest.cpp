#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"

#include "TemporaryHome.h"

#include <gtest/gtest.h>

using Platform::PropertyValue;

TEST(UserDefaults, ReadsEachTypeOnlyAsItself)
{
    TemporaryHome home;
    UserDefaults defaults = UserDefaults::standard();
    defaults.set(UserDefaultsCacheKeys::lastOkHost, "http://a.example");
    defaults.set(UserDefaultsCacheKeys::serverId, 12);
    defaults.set("real", 4.5);
    defaults.set("flag", true);
    defaults.set(UserDefaultsCacheKeys::allNodes, PropertyValue::array({"香港", "日本"}));
    defaults.set(UserDefaultsCacheKeys::userInfo, {{"id", 1}});
    defaults.set("huge", std::uint64_t(1) << 63);

    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), "http://a.example");
    EXPECT_EQ(defaults.integer(UserDefaultsCacheKeys::serverId), 12);
    EXPECT_EQ(defaults.list(UserDefaultsCacheKeys::allNodes),
              PropertyValue::array({"香港", "日本"}));
    EXPECT_EQ(defaults.dictionary(UserDefaultsCacheKeys::userInfo), PropertyValue({{"id", 1}}));
    EXPECT_EQ(defaults.value("real"), PropertyValue(4.5));

    EXPECT_FALSE(defaults.string(UserDefaultsCacheKeys::serverId));
    EXPECT_EQ(defaults.integer(UserDefaultsCacheKeys::lastOkHost), 0);
    EXPECT_EQ(defaults.integer("real"), 0);
    EXPECT_EQ(defaults.integer("flag"), 0);
    EXPECT_EQ(defaults.integer("huge"), 0);
    EXPECT_EQ(defaults.integer(UserDefaultsCacheKeys::apiToken), 0);
    EXPECT_FALSE(defaults.list(UserDefaultsCacheKeys::userInfo));
    EXPECT_FALSE(defaults.dictionary(UserDefaultsCacheKeys::allNodes));
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::apiToken));
}

TEST(UserDefaults, ChangesReachTheUsersPreferencesFile)
{
    TemporaryHome home;
    UserDefaults::standard().set(UserDefaultsCacheKeys::apiToken, "t0ken");
    UserDefaults::standard().set(UserDefaultsCacheKeys::lastAmount, "10.0 G");
    UserDefaults::standard().remove(UserDefaultsCacheKeys::lastAmount);

    Platform::PreferenceStore file(home.configHome() / "com.qaromac.wv" / "preferences.json");
    UserDefaults reread(file);
    EXPECT_EQ(reread.string(UserDefaultsCacheKeys::apiToken), "t0ken");
    EXPECT_FALSE(reread.value(UserDefaultsCacheKeys::lastAmount));
}
