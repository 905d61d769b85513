#include "platform/PreferredLanguages.h"
#include "platform/XdgDirectories.h"

#include "TemporaryHome.h"

#include <gtest/gtest.h>

using Strings = std::vector<std::string>;

TEST(PreferredLanguages, FollowLanguageThenTheLocaleVariables)
{
    TemporaryHome home;
    const auto set =
        [&](const char *language, const char *all, const char *messages, const char *lang) {
            const auto value = [](const char *text) {
                return text ? std::optional<std::string>(text) : std::nullopt;
            };
            home.setVariable("LANGUAGE", value(language));
            home.setVariable("LC_ALL", value(all));
            home.setVariable("LC_MESSAGES", value(messages));
            home.setVariable("LANG", value(lang));
        };

    set(nullptr, nullptr, nullptr, "zh_CN.UTF-8");
    EXPECT_EQ(Platform::preferredLanguages(), Strings{"zh-CN"});

    set("zh_TW:en_GB:zh_TW", nullptr, "de_DE@euro", "fr_FR.UTF-8");
    EXPECT_EQ(Platform::preferredLanguages(), (Strings{"zh-TW", "en-GB", "de-DE"}));

    set("", "ja_JP.eucJP", "de_DE", "fr_FR");
    EXPECT_EQ(Platform::preferredLanguages(), Strings{"ja-JP"});

    set(nullptr, "", "", "C.UTF-8");
    EXPECT_EQ(Platform::preferredLanguages(), Strings{"en"});

    set("POSIX", nullptr, nullptr, nullptr);
    EXPECT_EQ(Platform::preferredLanguages(), Strings{"en"});

    EXPECT_EQ(Platform::languageTag("pt_BR.ISO-8859-1@latin"), "pt-BR");
    EXPECT_EQ(Platform::languageTag("en"), "en");
}

TEST(XdgDirectories, UseTheVariablesOnlyWhenAbsolute)
{
    TemporaryHome home;
    EXPECT_EQ(Platform::XdgDirectories::configHome(), home.configHome());
    EXPECT_EQ(Platform::XdgDirectories::dataHome(), home.dataHome());

    home.setVariable("XDG_CONFIG_HOME", "relative/config");
    home.setVariable("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(Platform::XdgDirectories::configHome(), home.root() / ".config");
    EXPECT_EQ(Platform::XdgDirectories::dataHome(), home.root() / ".local/share");
}
