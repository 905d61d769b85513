#include "tunnel/LoginServiceKit.h"

#include "TemporaryHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <set>

using Platform::LoginItemList;

namespace fs = std::filesystem;

namespace {

fs::path makeProgram(const fs::path &program)
{
    fs::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\n";
    fs::permissions(program, fs::perms::owner_all);
    return program;
}

fs::path makeBundle(const fs::path &bundle)
{
    fs::create_directories(bundle / "Contents");
    std::ofstream(bundle / "Contents" / "Info.json")
        << nlohmann::json{{"CFBundleExecutable", "OrvaneVPN"}}.dump();
    makeProgram(bundle / "Contents" / "bin" / "OrvaneVPN");
    return bundle;
}

std::string programOf(const fs::path &bundle)
{
    return (bundle / "Contents" / "bin" / "OrvaneVPN").string();
}

void writeEntry(const TemporaryHome &home, const std::string &name, const std::string &contents)
{
    fs::create_directories(home.configHome() / "autostart");
    std::ofstream(home.configHome() / "autostart" / name, std::ios::binary) << contents;
}

std::set<std::string> entryNames(const TemporaryHome &home)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(home.configHome() / "autostart"))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace

TEST(LoginServiceKit, AddingTwiceLeavesOneEntry)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "Applications" / "Orvane VPN.app");
    EXPECT_FALSE(LoginServiceKit::isLoginItem(bundle.string()));
    EXPECT_FALSE(LoginServiceKit::findLoginItem(bundle.string()));

    EXPECT_TRUE(LoginServiceKit::addLoginItem(bundle.string()));
    const auto item = LoginServiceKit::findLoginItem(bundle.string());
    ASSERT_TRUE(item);
    EXPECT_EQ(item->entryFile.parent_path(), home.configHome() / "autostart");
    EXPECT_EQ(item->resolvedUrl, LoginItemList::fileUrl(bundle));
    EXPECT_TRUE(LoginServiceKit::isLoginItem(bundle.string() + "/"));

    EXPECT_FALSE(LoginServiceKit::addLoginItem(bundle.string()));
    EXPECT_FALSE(LoginServiceKit::addLoginItem(
        (home.root() / "Applications" / "." / "Orvane VPN.app/").string()));
    EXPECT_EQ(entryNames(home), std::set<std::string>{item->entryFile.filename().string()});

    EXPECT_FALSE(LoginServiceKit::findLoginItem(""));
    EXPECT_FALSE(LoginServiceKit::addLoginItem(""));
    EXPECT_FALSE(LoginServiceKit::removeLoginItem(""));
    EXPECT_EQ(entryNames(home).size(), 1u);
}

TEST(LoginServiceKit, RemovingDeletesEveryEntryForThePathAndNothingElse)
{
    TemporaryHome home;
    const fs::path apps = home.root() / "Apps $1";
    const fs::path bundle = makeBundle(apps / "Orvane VPN.app");
    const fs::path copy = makeBundle(home.root() / "Backup" / "Orvane VPN.app");
    const fs::path link = home.root() / "Link.app";
    fs::create_directory_symlink(bundle, link);
    const fs::path other = makeProgram(home.root() / "bin" / "other");
    home.setVariable("PATH", (bundle / "Contents" / "bin").string());
    const std::string root = home.root().string();

    ASSERT_TRUE(LoginServiceKit::addLoginItem(bundle.string()));
    writeEntry(home,
               "quoted.desktop",
               "[Desktop Entry]\nName=Orvane\nExec=\"" + root
                   + "/Apps \\\\$1/Orvane VPN.app/Contents/bin/OrvaneVPN\" --minimized %U\n"
                     "[Desktop Action Quit]\nExec=/bin/false\n");
    writeEntry(home,
               "loosely-quoted.desktop",
               "[Desktop Entry]\nExec=\"" + root
                   + "/Apps \\$1/Orvane VPN.app/Contents/bin/../bin/./OrvaneVPN\"\n");
    writeEntry(home,
               "partly-quoted.desktop",
               "[Desktop Entry]\nExec=" + root
                   + "/\"Apps $1/Orvane VPN.app\"/Contents/bin/OrvaneVPN\n");
    writeEntry(home, "by-name.desktop", "[Desktop Entry]\nType=Application\nExec=OrvaneVPN %u\n");
    writeEntry(home, "link.desktop", "[Desktop Entry]\nExec=\"" + programOf(link) + "\"\n");
    writeEntry(home,
               "turned-off.desktop",
               "[Desktop Entry]\nExec=OrvaneVPN\nX-GNOME-Autostart-enabled=false\n");

    // A copy of the application at another path is not this one.
    const std::set<std::string> kept = {
        "copy.desktop",
        "other.desktop",
        "no-exec.desktop",
        "missing.desktop",
        "garbage.desktop",
        "nul.desktop",
        "unclosed.desktop",
        "action-only.desktop",
    };
    writeEntry(home, "copy.desktop", "[Desktop Entry]\nExec=\"" + programOf(copy) + "\"\n");
    writeEntry(home, "other.desktop", "[Desktop Entry]\nExec=" + other.string() + "\n");
    writeEntry(home, "no-exec.desktop", "[Desktop Entry]\nName=Orvane VPN\n");
    writeEntry(home,
               "missing.desktop",
               "[Desktop Entry]\nExec=" + programOf(home.root() / "Gone.app") + "\n");
    writeEntry(home,
               "garbage.desktop",
               std::string("\0\xff", 2) + "[Desktop Entry]\nExec=\"" + programOf(bundle) + "\"\n");
    writeEntry(home,
               "nul.desktop",
               "[Desktop Entry]\nExec=\"" + programOf(bundle) + std::string(1, '\0') + "x\"\n");
    writeEntry(home, "unclosed.desktop", "[Desktop Entry]\nExec=\"" + programOf(bundle) + "\n");
    writeEntry(home,
               "action-only.desktop",
               "[Desktop Entry]\nName=A\n[Desktop Action Open]\nExec=\"" + programOf(bundle)
                   + "\"\n");

    EXPECT_TRUE(LoginServiceKit::removeLoginItem(bundle.string()));
    EXPECT_EQ(entryNames(home), kept);
    EXPECT_FALSE(LoginServiceKit::isLoginItem(bundle.string()));
    EXPECT_FALSE(LoginServiceKit::removeLoginItem(bundle.string()));
    EXPECT_EQ(entryNames(home), kept);
    EXPECT_TRUE(LoginServiceKit::isLoginItem(copy.string()));
    EXPECT_TRUE(LoginServiceKit::isLoginItem(other.string()));
}

TEST(LoginServiceKit, AnEntryTurnedOffIsAbsentAndAddingTurnsItBackOn)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "Applications" / "Orvane VPN.app");
    const std::string entry = "[Desktop Entry]\nExec=\"" + programOf(bundle) + "\"\n";
    writeEntry(home, "a-hidden.desktop", entry + "Hidden=true\n");
    writeEntry(home, "b-off.desktop", entry + "X-GNOME-Autostart-enabled=false\n");
    const std::set<std::string> written = entryNames(home);
    EXPECT_FALSE(LoginServiceKit::isLoginItem(bundle.string()));
    EXPECT_FALSE(LoginServiceKit::findLoginItem(bundle.string()));

    EXPECT_TRUE(LoginServiceKit::addLoginItem(bundle.string()));
    const auto item = LoginServiceKit::findLoginItem(bundle.string());
    ASSERT_TRUE(item);
    EXPECT_EQ(item->entryFile.filename(), "a-hidden.desktop");
    EXPECT_EQ(entryNames(home), written);
    EXPECT_FALSE(LoginServiceKit::addLoginItem(bundle.string()));

    EXPECT_TRUE(LoginServiceKit::removeLoginItem(bundle.string()));
    EXPECT_TRUE(entryNames(home).empty());
}

TEST(LoginServiceKit, ALauncherLinkedIntoTheBundleIsThisApplication)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "lib" / "OrvaneVPN.app");
    const fs::path bin = home.root() / "bin";
    fs::create_directories(bin);
    fs::create_symlink("../lib/OrvaneVPN.app/Contents/bin/OrvaneVPN", bin / "orvanevpn");
    home.setVariable("PATH", bin.string());
    writeEntry(home, "by-name.desktop", "[Desktop Entry]\nExec=orvanevpn --hidden\n");

    const auto found = LoginServiceKit::findLoginItem(bundle.string());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->resolvedUrl, LoginItemList::fileUrl(bundle));

    // The same bundle reached through a linked directory is the same application.
    fs::create_directory_symlink(home.root() / "lib", home.root() / "Apps");
    const std::string linked = (home.root() / "Apps" / "OrvaneVPN.app").string();
    EXPECT_TRUE(LoginServiceKit::isLoginItem(linked));
    EXPECT_FALSE(LoginServiceKit::addLoginItem(linked));
    EXPECT_TRUE(LoginServiceKit::removeLoginItem(linked));
    EXPECT_TRUE(entryNames(home).empty());
}

TEST(LoginServiceKit, ACopyElsewhereOrAnUnresolvableEntryNeverMatches)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "Applications" / "Orvane VPN.app");
    const fs::path copy = makeBundle(home.root() / "Downloads" / "Orvane VPN.app");
    const fs::path gone = home.root() / "Gone.app";
    writeEntry(home, "copy.desktop", "[Desktop Entry]\nExec=\"" + programOf(copy) + "\"\n");
    writeEntry(home, "gone.desktop", "[Desktop Entry]\nExec=\"" + programOf(gone) + "\"\n");
    writeEntry(home, "malformed.desktop", "Exec=\"" + programOf(bundle) + "\"\n");
    const std::set<std::string> written = entryNames(home);

    EXPECT_FALSE(LoginServiceKit::findLoginItem(bundle.string()));
    EXPECT_FALSE(LoginServiceKit::removeLoginItem(bundle.string()));
    EXPECT_FALSE(LoginServiceKit::isLoginItem(gone.string()));
    EXPECT_FALSE(LoginServiceKit::removeLoginItem(gone.string()));
    EXPECT_EQ(entryNames(home), written);

    // Once its program exists the same entry resolves, and the copy never blocked an addition.
    makeBundle(gone);
    const auto found = LoginServiceKit::findLoginItem(gone.string());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->entryFile.filename(), "gone.desktop");
    EXPECT_TRUE(LoginServiceKit::addLoginItem(bundle.string()));
    EXPECT_EQ(entryNames(home).size(), written.size() + 1);
}

TEST(LoginServiceKit, WithoutAConfigDirectoryNothingIsFoundAddedOrRemoved)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "Orvane VPN.app");
    ASSERT_TRUE(LoginServiceKit::addLoginItem(bundle.string()));

    std::ofstream(home.root() / "file") << "";
    fs::create_directories(home.root() / "other");
    std::ofstream(home.root() / "other" / "autostart") << "";
    for (const fs::path &configHome : {home.root() / "file", home.root() / "other"}) {
        home.setVariable("XDG_CONFIG_HOME", configHome.string());
        EXPECT_FALSE(LoginServiceKit::findLoginItem(bundle.string())) << configHome;
        EXPECT_FALSE(LoginServiceKit::isLoginItem(bundle.string())) << configHome;
        EXPECT_FALSE(LoginServiceKit::addLoginItem(bundle.string())) << configHome;
        EXPECT_FALSE(LoginServiceKit::removeLoginItem(bundle.string())) << configHome;
    }

    home.setVariable("XDG_CONFIG_HOME", home.configHome().string());
    EXPECT_TRUE(LoginServiceKit::isLoginItem(bundle.string()));
    EXPECT_EQ(entryNames(home).size(), 1u);
}
