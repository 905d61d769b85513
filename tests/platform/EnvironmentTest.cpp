#include "platform/PreferredLanguages.h"
#include "platform/XdgDirectories.h"

#include "TemporaryHome.h"

#include <sys/stat.h>
#include <unistd.h>

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

TEST(XdgDirectories, WithoutARuntimeDirectoryAPrivateOneIsMadeUnderTmp)
{
    TemporaryHome home;
    EXPECT_EQ(Platform::XdgDirectories::runtimeDirectory(), home.runtimeDirectory());

    home.setVariable("XDG_RUNTIME_DIR", std::nullopt);
    const auto directory = Platform::XdgDirectories::runtimeDirectory();
    ASSERT_TRUE(directory);
    EXPECT_TRUE(directory->string().starts_with("/tmp/orvanevpn-")) << *directory;
    struct stat status;
    ASSERT_EQ(::lstat(directory->c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(status.st_uid, ::getuid());

    // Opened up by someone, it is no longer trusted.
    ::chmod(directory->c_str(), 0755);
    EXPECT_FALSE(Platform::XdgDirectories::runtimeDirectory());
    ::chmod(directory->c_str(), 0700);
}
