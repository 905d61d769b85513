#include "platform/PreferenceStore.h"

#include "ChildProcess.h"
#include "LogRecorder.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>

#include <sys/stat.h>

using Platform::PreferenceStore;
using Platform::PropertyValue;

namespace {

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream stream(path);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

void writeFile(const std::filesystem::path &path, const std::string &text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

mode_t modeOf(const std::filesystem::path &path)
{
    struct stat status;
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path &directory)
{
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(directory))
        files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    return files;
}

class PreferenceStoreTest : public testing::Test
{
protected:
    TemporaryHome home;
    LogRecorder log;
    std::filesystem::path file = home.configHome() / "domain" / "preferences.json";
};

} // namespace

TEST_F(PreferenceStoreTest, TypedValuesSurviveTheFile)
{
    const Platform::Data bytes{0x00, 0xff, 0x10, 'x'};
    {
        PreferenceStore store(file);
        EXPECT_TRUE(store.setValue("text", "香港 01"));
        store.setValue("integer", 42);
        store.setValue("real", 2.0);
        store.setValue("flag", false);
        store.setValue("list", PropertyValue::array({"a", 1}));
        store.setValue("dictionary", {{"nested", PropertyValue::binary(bytes)}, {"n", 7}});
        store.setValue("bytes", PropertyValue::binary(bytes));
        store.setValue("removed", "soon gone");
        EXPECT_TRUE(store.removeValue("removed"));
    }

    PreferenceStore reopened(file);
    EXPECT_EQ(reopened.value("text"), PropertyValue("香港 01"));
    EXPECT_TRUE(reopened.value("integer")->is_number_integer());
    EXPECT_EQ(reopened.value("integer"), PropertyValue(42));
    EXPECT_TRUE(reopened.value("real")->is_number_float());
    EXPECT_TRUE(reopened.value("flag")->is_boolean());
    EXPECT_EQ(reopened.value("list"), PropertyValue::array({"a", 1}));
    ASSERT_TRUE(reopened.value("bytes")->is_binary());
    EXPECT_EQ(Platform::Data(reopened.value("bytes")->get_binary()), bytes);
    EXPECT_EQ(Platform::Data((*reopened.value("dictionary"))["nested"].get_binary()), bytes);
    EXPECT_FALSE(reopened.value("removed"));
    EXPECT_FALSE(reopened.value("never set"));

    const auto stored = nlohmann::json::parse(readFile(file));
    EXPECT_EQ(stored["bytes"], nlohmann::json({{"$data", "AP8QeA=="}}));
    EXPECT_EQ(stored["real"].dump(), "2.0");
}

TEST_F(PreferenceStoreTest, DictionariesThatOnlyLookLikeBytesStayDictionaries)
{
    writeFile(file, R"({"a": {"$data": "not base64!"}, "b": {"$data": "QQ==", "other": 1}})");
    PreferenceStore store(file);
    EXPECT_EQ(store.value("a"), PropertyValue({{"$data", "not base64!"}}));
    EXPECT_TRUE(store.value("b")->is_object());
}

TEST_F(PreferenceStoreTest, FileIsPrivateAndReplacedWholesale)
{
    const mode_t oldMask = ::umask(0);
    PreferenceStore store(file);
    store.setValue("token", "secret");
    ::umask(oldMask);

    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.parent_path()), 0700u);

    struct stat before;
    ::stat(file.c_str(), &before);
    store.setValue("token", "other");
    struct stat after;
    ::stat(file.c_str(), &after);
    EXPECT_NE(before.st_ino, after.st_ino) << "rewritten in place instead of replaced";
    EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::filesystem::path>{"preferences.json"});
}

TEST_F(PreferenceStoreTest, CorruptFileIsKeptAsideAndTheStoreStartsEmpty)
{
    for (const std::string broken : {"{\"token\": \"abc\"", "[1, 2]", ""}) {
        std::filesystem::remove_all(file.parent_path());
        writeFile(file, broken);
        PreferenceStore store(file);

        EXPECT_FALSE(store.value("token")) << broken;
        auto files = filesIn(file.parent_path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(files[0].string().starts_with("preferences.json.corrupt-")) << files[0];
        const auto aside = file.parent_path() / files[0];
        EXPECT_EQ(readFile(aside), broken);

        EXPECT_TRUE(store.setValue("token", "new"));
        EXPECT_EQ(readFile(aside), broken);
        EXPECT_EQ(PreferenceStore(file).value("token"), PropertyValue("new"));
    }
    EXPECT_FALSE(log.systemMessages().empty());
}

TEST_F(PreferenceStoreTest, SeesWhatAnotherWriterReplaced)
{
    PreferenceStore reader(file);
    EXPECT_FALSE(reader.value("mode"));

    PreferenceStore writer(file);
    writer.setValue("mode", "global");
    EXPECT_EQ(reader.value("mode"), PropertyValue("global"));

    writer.removeValue("mode");
    EXPECT_FALSE(reader.value("mode"));
}

TEST_F(PreferenceStoreTest, UnwritableFileKeepsTheValueInMemoryAndSaysSo)
{
    writeFile(home.configHome() / "blocked", "a file where the directory should be");
    PreferenceStore store(home.configHome() / "blocked" / "preferences.json");

    EXPECT_FALSE(store.setValue("key", "value"));
    EXPECT_EQ(store.value("key"), PropertyValue("value"));
    ASSERT_FALSE(log.systemLines().empty());
    EXPECT_EQ(log.systemLines().back().level, Platform::LogLevel::Error);
}

TEST_F(PreferenceStoreTest, UnreadableFileIsNeverReplacedAndCatchesUpWhenReadableAgain)
{
    // Root reads any file, so something else stands in its place: a directory, which read()
    // refuses, or a link to itself, which open() refuses.
    const std::function<void()> blockers[] = {
        [&] { std::filesystem::create_directory(file); },
        [&] { std::filesystem::create_symlink(file.filename(), file); },
    };
    for (const auto &block : blockers) {
        std::filesystem::remove_all(file.parent_path());
        writeFile(file, R"({"token": "abc", "device": "d1", "choice": 1})");
        PreferenceStore store(file);
        EXPECT_EQ(store.value("token"), PropertyValue("abc"));
        std::filesystem::remove(file);
        block();
        const auto errors = [&] {
            const auto lines = log.systemLines();
            return std::count_if(lines.begin(), lines.end(), [](const auto &line) {
                return line.level == Platform::LogLevel::Error;
            });
        };
        const auto errorsBefore = errors();

        EXPECT_EQ(store.value("token"), PropertyValue("abc"));
        EXPECT_FALSE(store.setValue("remember", true));
        EXPECT_FALSE(store.removeValue("choice"));
        EXPECT_EQ(store.value("remember"), PropertyValue(true));
        EXPECT_FALSE(store.value("choice"));
        EXPECT_EQ(filesIn(file.parent_path()),
                  std::vector<std::filesystem::path>{"preferences.json"});
        EXPECT_EQ(errors(), errorsBefore + 1);

        // Back, as another writer left it; the changes made meanwhile are applied on top.
        std::filesystem::remove(file);
        writeFile(file, R"({"token": "new", "device": "d1", "choice": 1})");
        EXPECT_EQ(store.value("token"), PropertyValue("new"));
        EXPECT_EQ(store.value("remember"), PropertyValue(true));
        EXPECT_FALSE(store.value("choice"));
        EXPECT_EQ(nlohmann::json::parse(readFile(file)),
                  nlohmann::json({{"token", "new"}, {"device", "d1"}, {"remember", true}}));
    }
}

TEST_F(PreferenceStoreTest, StandardAndGroupDomainsLiveInTheConfigDirectory)
{
    EXPECT_EQ(PreferenceStore::standard().file(),
              home.configHome() / "com.qaromac.wv" / "preferences.json");
    EXPECT_EQ(PreferenceStore::group("group.com.qaromac.wv").file(),
              home.configHome() / "group.com.qaromac.wv" / "preferences.json");

    PreferenceStore::standard().setValue("key", 1);
    EXPECT_EQ(PreferenceStore(PreferenceStore::standard().file()).value("key"), PropertyValue(1));
}

TEST_F(PreferenceStoreTest, WriterKilledMidRewriteNeverLeavesABrokenFile)
{
    for (int round = 0; round < 12; ++round) {
        ChildProcess writer({testChildProgram(), "prefs-write-loop", file.string()});
        // Let it get through a different number of rewrites each time, checking the file
        // between them as a concurrent reader would.
        for (int rewrites = 0; rewrites < 1 + round * 3; ++rewrites) {
            ASSERT_TRUE(writer.readLine()) << "writer stopped";
            const auto seen = nlohmann::json::parse(readFile(file), nullptr, false);
            ASSERT_FALSE(seen.is_discarded()) << "a reader saw a partial file";
        }
        writer.kill(SIGKILL);
        ASSERT_EQ(writer.finish(), -SIGKILL);

        const auto left = nlohmann::json::parse(readFile(file), nullptr, false);
        ASSERT_FALSE(left.is_discarded()) << "round " << round;
        EXPECT_TRUE(left["round"].is_number_integer());
        EXPECT_TRUE(left["payload"].is_string());
    }
}
