#include "platform/LoginItemList.h"

#include "LogRecorder.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <set>

#include <sys/stat.h>

using Platform::LoginItemList;

namespace fs = std::filesystem;

namespace {

void makeProgram(const fs::path &program, fs::perms permissions = fs::perms::owner_all)
{
    fs::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\n";
    fs::permissions(program, permissions);
}

fs::path makeBundle(const fs::path &bundle, const std::string &executable)
{
    fs::create_directories(bundle / "Contents" / "bin");
    std::ofstream(bundle / "Contents" / "Info.json")
        << nlohmann::json{{"CFBundleExecutable", executable}}.dump();
    makeProgram(bundle / "Contents" / "bin" / executable);
    return bundle;
}

void writeFile(const fs::path &file, const std::string &contents)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
}

std::string readFile(const fs::path &file)
{
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

unsigned mode(const fs::path &path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

std::vector<std::string> entryNames(const LoginItemList &list)
{
    std::vector<std::string> names;
    for (const auto &item : list.snapshot())
        names.push_back(item.entryFile.filename().string());
    return names;
}

} // namespace

TEST(LoginItemList, FileUrlsAreNormalisedAndPercentEncoded)
{
    TemporaryHome home;
    EXPECT_EQ(LoginItemList::fileUrl("/"), "file:///");
    EXPECT_EQ(LoginItemList::fileUrl("/opt/My App/中文 #1/100%.bin"),
              "file:///opt/My%20App/%E4%B8%AD%E6%96%87%20%231/100%25.bin");
    EXPECT_EQ(LoginItemList::fileUrl("/a-b_c.d~e/Z9?x=y&z+\"'"),
              "file:///a-b_c.d~e/Z9%3Fx%3Dy%26z%2B%22%27");
    EXPECT_EQ(LoginItemList::fileUrl("relative/x"),
              LoginItemList::fileUrl(fs::current_path() / "relative" / "x"));

    // Existing directories end with a slash, however the path is spelled.
    const std::string rootUrl = LoginItemList::fileUrl(home.root());
    ASSERT_TRUE(rootUrl.starts_with("file:///"));
    ASSERT_TRUE(rootUrl.ends_with("/"));
    const fs::path bundle = makeBundle(home.root() / "Some Apps" / "Tool.app", "tool");
    const std::string bundleUrl = rootUrl + "Some%20Apps/Tool.app/";
    EXPECT_EQ(LoginItemList::fileUrl(bundle), bundleUrl);
    EXPECT_EQ(LoginItemList::fileUrl(bundle.string() + "/"), bundleUrl);
    EXPECT_EQ(LoginItemList::fileUrl(home.root() / "Some Apps" / "." / "Tool.app"), bundleUrl);
    EXPECT_EQ(LoginItemList::fileUrl(home.root() / "Gone" / ".." / "Some Apps//Tool.app/."),
              bundleUrl);
    EXPECT_EQ(LoginItemList::fileUrl(bundle / "Contents" / "bin" / "tool"),
              bundleUrl + "Contents/bin/tool");
}

TEST(LoginItemList, SnapshotResolvesEachEntryToItsBundleOrProgram)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "Apps" / "Tool.app", "tool");
    const std::string bundleProgram = (bundle / "Contents" / "bin" / "tool").string();
    const fs::path helper = home.root() / "bin" / "helper";
    makeProgram(helper);
    makeProgram(home.root() / "bin" / "data", fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = home.root() / "Apps" / "Link.app";
    fs::create_directory_symlink(bundle, link);
    // A launcher linked into the bundle, as packages install one.
    fs::create_symlink("../Apps/Tool.app/Contents/bin/tool", home.root() / "bin" / "tool-launcher");
    home.setVariable("PATH",
                     "relative::" + (home.root() / "empty").string() + ":"
                         + (home.root() / "bin").string());

    LoginItemList list(home.root() / "autostart");
    const fs::path dir = list.directory();
    EXPECT_TRUE(list.snapshot().empty());
    writeFile(dir / "12-bundle.desktop",
              "[Desktop Entry]\nType=Application\nExec=" + bundleProgram + " --hidden %U\n");
    writeFile(dir / "03-path.desktop", "# comment\n\n[Desktop Entry]\n  Exec = helper\n");
    writeFile(dir / "07-link.desktop",
              "[Desktop Entry]\nExec=" + (link / "Contents/bin/tool").string() + "\n");
    writeFile(dir / "01-action.desktop",
              "[Desktop Entry]\nName=A\n[Desktop Action Open]\nExec=" + bundleProgram + "\n");
    writeFile(dir / "05-missing.desktop",
              "[Desktop Entry]\nExec=" + (home.root() / "Apps/Gone.app/Contents/bin/tool").string()
                  + "\n");
    writeFile(dir / "08-relative.desktop", "[Desktop Entry]\nExec=bin/helper\n");
    writeFile(dir / "02-unclosed.desktop", "[Desktop Entry]\nExec=\"" + bundleProgram + "\n");
    writeFile(dir / "10-garbage.desktop",
              std::string("\x89PNG\r\n\x1a\n\0\0", 10) + "[Desktop Entry]\nExec=" + bundleProgram);
    writeFile(dir / "04-no-exec.desktop", "[Desktop Entry]\nType=Application\nName=Nothing\n");
    writeFile(dir / "11-before-group.desktop", "Exec=" + bundleProgram + "\n[Desktop Entry]\n");
    writeFile(dir / "06-not-executable.desktop",
              "[Desktop Entry]\nExec=" + (home.root() / "bin/data").string() + "\n");
    fs::create_symlink(home.root() / "nowhere.desktop", dir / "09-dangling.desktop");
    writeFile(dir / "notes.txt", "[Desktop Entry]\nExec=" + bundleProgram + "\n");
    fs::create_directories(dir / "folder.desktop");
    writeFile(dir / "13-launcher.desktop", "[Desktop Entry]\nExec=tool-launcher --hidden\n");
    writeFile(dir / "14-launcher-path.desktop",
              "[Desktop Entry]\nExec=" + (home.root() / "bin/tool-launcher").string() + "\n");

    const std::vector<LoginItemList::Item> items = list.snapshot();
    std::vector<std::string> names;
    std::vector<std::optional<std::string>> urls;
    for (const auto &item : items) {
        EXPECT_EQ(item.entryFile.parent_path(), dir);
        names.push_back(item.entryFile.filename().string());
        urls.push_back(item.resolvedUrl);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"01-action.desktop",
                                        "02-unclosed.desktop",
                                        "03-path.desktop",
                                        "04-no-exec.desktop",
                                        "05-missing.desktop",
                                        "06-not-executable.desktop",
                                        "07-link.desktop",
                                        "08-relative.desktop",
                                        "09-dangling.desktop",
                                        "10-garbage.desktop",
                                        "11-before-group.desktop",
                                        "12-bundle.desktop",
                                        "13-launcher.desktop",
                                        "14-launcher-path.desktop"}));
    const std::optional<std::string> none;
    EXPECT_EQ(urls,
              (std::vector<std::optional<std::string>>{none,
                                                       none,
                                                       LoginItemList::fileUrl(helper),
                                                       none,
                                                       none,
                                                       none,
                                                       LoginItemList::fileUrl(bundle),
                                                       none,
                                                       none,
                                                       none,
                                                       none,
                                                       LoginItemList::fileUrl(bundle),
                                                       LoginItemList::fileUrl(bundle),
                                                       LoginItemList::fileUrl(bundle)}));
    EXPECT_NE(LoginItemList::fileUrl(link), LoginItemList::fileUrl(bundle));
    EXPECT_EQ(LoginItemList::resolvedFileUrl(link), LoginItemList::fileUrl(bundle));
}

TEST(LoginItemList, EntriesTheUserTurnedOffAreMarkedAndCanBeTurnedBackOn)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "Tool.app", "tool");
    const std::string entry = "[Desktop Entry]\nExec=" + (bundle / "Contents/bin/tool").string()
                              + "\n";
    LoginItemList list(home.root() / "autostart");
    writeFile(list.directory() / "1-hidden.desktop", entry + "Hidden=true\n");
    writeFile(list.directory() / "2-off.desktop", entry + "X-GNOME-Autostart-enabled=false\n");
    writeFile(list.directory() / "3-on.desktop",
              entry + "Hidden=false\nX-GNOME-Autostart-enabled=true\n");
    writeFile(list.directory() / "4-action.desktop", entry + "[Desktop Action A]\nHidden=true\n");
    std::vector<bool> enabled;
    for (const auto &item : list.snapshot())
        enabled.push_back(item.enabled);
    EXPECT_EQ(enabled, (std::vector<bool>{false, false, true, true}));

    const LoginItemList::Item hidden = list.snapshot().front();
    EXPECT_FALSE(list.enableItem(hidden, LoginItemList::fileUrl(home.root() / "missing")));
    ASSERT_TRUE(list.enableItem(hidden, LoginItemList::fileUrl(bundle)));
    EXPECT_TRUE(list.snapshot().front().enabled);
    EXPECT_EQ(list.snapshot().front().resolvedUrl, LoginItemList::fileUrl(bundle));
    EXPECT_EQ(entryNames(list).size(), 4u);
}

TEST(LoginItemList, InsertWritesAnEntryThatResolvesBackToTheUrl)
{
    TemporaryHome home;
    const fs::path bundle = makeBundle(home.root() / "Apps" / "Tool.app", "tool");
    LoginItemList list(home.root() / "config" / "new" / "autostart");

    ASSERT_TRUE(list.insertItemURL(LoginItemList::fileUrl(bundle)));
    const auto first = list.snapshot();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].resolvedUrl, LoginItemList::fileUrl(bundle));
    EXPECT_TRUE(first[0].entryFile.filename().string().starts_with("com.qaromac.wv-"));
    EXPECT_EQ(readFile(first[0].entryFile),
              "[Desktop Entry]\nType=Application\nName=Tool\nExec=\""
                  + (bundle / "Contents" / "bin" / "tool").string()
                  + "\"\nX-GNOME-Autostart-enabled=true\nTerminal=false\n");
    EXPECT_EQ(mode(first[0].entryFile), 0644u);
    EXPECT_EQ(mode(list.directory()), 0700u);
    EXPECT_EQ(mode(list.directory().parent_path()), 0700u);

    // Duplicates are the caller's business: another spelling gets an entry of its own.
    ASSERT_TRUE(list.insertItemURL("file://localhost" + bundle.string()));
    const fs::path helper = home.root() / "bin" / "helper";
    makeProgram(helper);
    ASSERT_TRUE(list.insertItemURL(LoginItemList::fileUrl(helper)));

    const auto items = list.snapshot();
    ASSERT_EQ(items.size(), 3u);
    std::multiset<std::optional<std::string>> urls;
    std::set<fs::path> files;
    for (const auto &item : items) {
        urls.insert(item.resolvedUrl);
        files.insert(item.entryFile);
    }
    EXPECT_EQ(urls,
              (std::multiset<std::optional<std::string>>{LoginItemList::fileUrl(bundle),
                                                         LoginItemList::fileUrl(bundle),
                                                         LoginItemList::fileUrl(helper)}));
    EXPECT_EQ(files.size(), 3u);
    EXPECT_TRUE(files.contains(first[0].entryFile));
}

TEST(LoginItemList, InsertRefusesWhatItCannotRun)
{
    TemporaryHome home;
    LogRecorder log;
    const fs::path root = home.root();
    const fs::path bundle = makeBundle(root / "Tool.app", "tool");
    fs::create_directories(root / "Bare.app" / "Contents" / "bin");
    writeFile(root / "Broken.app" / "Contents" / "Info.json", "{ not json");
    writeFile(root / "NoProgram.app" / "Contents" / "Info.json", R"({"CFBundleExecutable": "x"})");
    makeBundle(root / "Escape.app", "../escape");
    makeProgram(root / "data", fs::perms::owner_read | fs::perms::owner_write);

    LoginItemList list(root / "autostart");
    for (const std::string &url : {LoginItemList::fileUrl(root / "Bare.app"),
                                   LoginItemList::fileUrl(root / "Broken.app"),
                                   LoginItemList::fileUrl(root / "NoProgram.app"),
                                   LoginItemList::fileUrl(root / "Escape.app"),
                                   LoginItemList::fileUrl(root / "data"),
                                   LoginItemList::fileUrl(root / "missing"),
                                   // A program inside a bundle is added through its bundle.
                                   LoginItemList::fileUrl(bundle / "Contents" / "bin" / "tool"),
                                   std::string("http://example.com") + bundle.string(),
                                   "file://elsewhere" + bundle.string(),
                                   "file:" + bundle.string(),
                                   "file://" + bundle.string() + "#top",
                                   "file://" + bundle.string() + "%zz",
                                   "file://" + bundle.string() + "%00",
                                   std::string()}) {
        EXPECT_FALSE(list.insertItemURL(url)) << url;
    }
    EXPECT_FALSE(fs::exists(list.directory()));

    // The bundle itself is fine; only a directory that cannot be made refuses it.
    writeFile(root / "blocker", "");
    LoginItemList blocked(root / "blocker" / "autostart");
    EXPECT_FALSE(blocked.insertItemURL(LoginItemList::fileUrl(bundle)));
    EXPECT_FALSE(log.systemMessages().empty());
    EXPECT_TRUE(list.insertItemURL("FILE://" + bundle.string()));
}

TEST(LoginItemList, UnusualPathsSurviveTheQuotingOfExec)
{
    TemporaryHome home;
    const fs::path dir = home.root()
                         / "Odd \"quoted\" 'single' $HOME `date` \\back\\ 100%% #1 中文";
    const fs::path bundle = makeBundle(dir / "My Tool.app", "run $me \"now\"\\");
    const fs::path program = dir / " tab\there\nline %U";
    makeProgram(program);

    LoginItemList list(home.root() / "autostart");
    ASSERT_TRUE(list.insertItemURL(LoginItemList::fileUrl(bundle)));
    ASSERT_TRUE(list.insertItemURL(LoginItemList::fileUrl(program)));
    std::set<std::optional<std::string>> urls;
    for (const auto &item : list.snapshot())
        urls.insert(item.resolvedUrl);
    EXPECT_EQ(urls,
              (std::set<std::optional<std::string>>{LoginItemList::fileUrl(bundle),
                                                    LoginItemList::fileUrl(program)}));
}

TEST(LoginItemList, RemoveDeletesOnlyTheEntryFile)
{
    TemporaryHome home;
    LogRecorder log;
    const fs::path bundle = makeBundle(home.root() / "Tool.app", "tool");
    LoginItemList list(home.root() / "autostart");
    ASSERT_TRUE(list.insertItemURL(LoginItemList::fileUrl(bundle)));
    writeFile(list.directory() / "garbage.desktop", std::string("\0\1\2", 3));
    fs::create_symlink(home.root() / "nowhere.desktop", list.directory() / "dangling.desktop");

    const auto items = list.snapshot();
    ASSERT_EQ(items.size(), 3u);
    for (const auto &item : items)
        EXPECT_TRUE(list.remove(item)) << item.entryFile;
    EXPECT_TRUE(list.snapshot().empty());
    EXPECT_TRUE(fs::exists(bundle / "Contents" / "bin" / "tool"));
    EXPECT_FALSE(list.remove(items.front()));
}

TEST(LoginItemList, TheSessionListIsTheAutostartDirectoryOfTheConfigHome)
{
    TemporaryHome home;
    auto list = LoginItemList::sessionLoginItems();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->directory(), home.configHome() / "autostart");
    const fs::path bundle = makeBundle(home.root() / "Tool.app", "tool");
    ASSERT_TRUE(list->insertItemURL(LoginItemList::fileUrl(bundle)));
    EXPECT_EQ(entryNames(*LoginItemList::sessionLoginItems()), entryNames(*list));

    home.setVariable("XDG_CONFIG_HOME", std::nullopt);
    list = LoginItemList::sessionLoginItems();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->directory(), home.root() / ".config" / "autostart");

    // Something other than a directory in the way: the list cannot be opened.
    writeFile(home.root() / ".config" / "autostart", "");
    EXPECT_FALSE(LoginItemList::sessionLoginItems());
    writeFile(home.root() / "file", "");
    home.setVariable("XDG_CONFIG_HOME", (home.root() / "file").string());
    EXPECT_FALSE(LoginItemList::sessionLoginItems());
}
