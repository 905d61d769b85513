#include "api/QaroShared.h"

#include "ChildProcess.h"
#include "LogRecorder.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

using Platform::PropertyValue;

namespace {

mode_t modeOf(const std::filesystem::path &path)
{
    struct stat status;
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream stream(path);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

class QaroSharedTest : public testing::Test
{
protected:
    TemporaryHome home;
    LogRecorder log;
    std::filesystem::path container = home.dataHome() / "group.com.qaromac.wv";
    QaroShared &shared = QaroShared::shared();
};

} // namespace

TEST_F(QaroSharedTest, ValuesReadBackAsWritten)
{
    shared.setValue(QaroShared::tunModeKey, std::string("global"));
    shared.setValue(QaroShared::nodeNameKey, "香港 01");
    shared.setValue("count", 3);
    shared.setValue("big", 5000000000LL);
    shared.setValue("flag", true);
    shared.setValue("ratio", 0.25);
    shared.setValue("single", 0.5f);
    shared.setValue("bytes", Platform::Data{1, 2, 3});
    shared.setValue("dictionary",
                    QaroShared::Dictionary{{"list", QaroShared::List{std::string("a"), 1}}});

    EXPECT_EQ(shared.value(QaroShared::tunModeKey), PropertyValue("global"));
    EXPECT_EQ(shared.value(QaroShared::nodeNameKey), PropertyValue("香港 01"));
    EXPECT_TRUE(shared.value("count")->is_number_integer());
    EXPECT_EQ(shared.value("big"), PropertyValue(5000000000LL));
    EXPECT_EQ(shared.value("flag"), PropertyValue(true));
    EXPECT_EQ(shared.value("ratio"), PropertyValue(0.25));
    EXPECT_EQ(shared.value("single"), PropertyValue(0.5));
    EXPECT_EQ(Platform::Data(shared.value("bytes")->get_binary()), (Platform::Data{1, 2, 3}));
    EXPECT_EQ(shared.value("dictionary"), PropertyValue({{"list", {"a", 1}}}));
    EXPECT_FALSE(shared.value(QaroShared::subUuidKey));
    EXPECT_TRUE(log.printed().empty());
}

TEST_F(QaroSharedTest, TextsAndTheRoutingModeReadWithTheirDefaults)
{
    EXPECT_EQ(shared.tunMode(), "rule");
    EXPECT_FALSE(shared.string(QaroShared::nodeNameKey));

    shared.setValue(QaroShared::nodeNameKey, 7);
    shared.setValue(QaroShared::tunModeKey, true);
    EXPECT_FALSE(shared.string(QaroShared::nodeNameKey));
    EXPECT_EQ(shared.tunMode(), "rule");

    shared.setValue(QaroShared::nodeNameKey, "日本 01");
    shared.setValue(QaroShared::tunModeKey, "global");
    EXPECT_EQ(shared.string(QaroShared::nodeNameKey), "日本 01");
    EXPECT_EQ(shared.tunMode(), "global");
}

TEST_F(QaroSharedTest, UnsupportedTypesAreRefusedByNameAndNothingIsWritten)
{
    shared.setValue("k", std::string("before"));

    shared.setValue("k", std::chrono::system_clock::now());
    ASSERT_EQ(log.printed().size(), 1u);
    const std::string line = log.printed()[0];
    EXPECT_TRUE(line.starts_with("不支持的数据类型：std::chrono::time_point<")) << line;
    EXPECT_TRUE(line.ends_with(">，支持的类型：String/Int/Bool/Data/数组/字典等")) << line;
    EXPECT_EQ(shared.value("k"), PropertyValue("before"));

    // A container is refused whole when one member cannot be stored.
    shared.setValue("k", QaroShared::List{std::string("fine"), std::chrono::seconds(1)});
    ASSERT_EQ(log.printed().size(), 2u);
    EXPECT_NE(log.printed()[1].find("std::chrono::duration<"), std::string::npos);
    shared.setValue("k", std::any());
    EXPECT_EQ(log.printed()[2],
              "不支持的数据类型：void，支持的类型：String/Int/Bool/Data/数组/字典等");
    EXPECT_EQ(shared.value("k"), PropertyValue("before"));
}

TEST_F(QaroSharedTest, AProcessStartedRightAfterReadsTheValue)
{
    shared.setValue(QaroShared::subUuidKey, std::string("5f0c-uuid"));
    ChildProcess first({testChildProgram(), "shared-value", QaroShared::subUuidKey});
    EXPECT_EQ(first.readLine(), "\"5f0c-uuid\"");

    shared.setValue(QaroShared::subUuidKey, std::string("next"));
    shared.setValue(QaroShared::nodeNameKey, "日本 02");
    ChildProcess second({testChildProgram(), "shared-value", QaroShared::subUuidKey});
    EXPECT_EQ(second.readLine(), "\"next\"");
    ChildProcess third({testChildProgram(), "shared-value", QaroShared::nodeNameKey});
    EXPECT_EQ(third.readLine(), "\"日本 02\"");
}

TEST_F(QaroSharedTest, SharedDirectoriesAreMadeOpenForReading)
{
    const mode_t oldMask = ::umask(077);
    const auto itself = shared.sharedDirectory("");
    const auto nested = shared.sharedDirectory("logs/today");
    ::umask(oldMask);

    EXPECT_EQ(itself, container);
    EXPECT_EQ(nested, container / "logs/today");
    EXPECT_EQ(modeOf(container), 0755u);
    EXPECT_EQ(modeOf(container / "logs"), 0755u);
    EXPECT_EQ(modeOf(container / "logs/today"), 0755u);
    EXPECT_EQ(shared.sharedDirectory("/logs"), container / "logs");

    std::filesystem::permissions(container / "logs", std::filesystem::perms::owner_all);
    shared.sharedDirectory("logs");
    EXPECT_EQ(modeOf(container / "logs"), 0755u);
    EXPECT_EQ(log.systemMessages().front(), "sysnc.实际Group路径：" + container.string());
}

TEST_F(QaroSharedTest, SubpathsThatLeaveTheContainerOrAreFilesAreRefused)
{
    EXPECT_FALSE(shared.sharedDirectory("../outside"));
    EXPECT_FALSE(std::filesystem::exists(home.dataHome() / "outside"));
    EXPECT_FALSE(shared.sharedFileUrl("../../escape", "logs"));

    std::filesystem::create_directories(container);
    std::ofstream(container / "plain") << "a file";
    EXPECT_FALSE(shared.sharedDirectory("plain"));
    EXPECT_EQ(log.systemMessages().back(), "sysnc.getSharedDir.err:Not a directory");
}

TEST_F(QaroSharedTest, WithoutAContainerEveryFileOperationYieldsNothing)
{
    QaroShared unentitled([] { return std::optional<std::filesystem::path>(); });
    std::error_code error;
    EXPECT_FALSE(unentitled.sharedDirectory(""));
    EXPECT_FALSE(unentitled.sharedFileUrl("a.txt", ""));
    EXPECT_FALSE(unentitled.fileExists("a.txt", ""));
    EXPECT_FALSE(unentitled.copyToShared(home.root() / "a.txt", "", true, error));
    EXPECT_FALSE(error);
    EXPECT_EQ(log.systemMessages(), std::vector<std::string>(4, "sysnc:!!无法加载共享文件路径"));
}

TEST_F(QaroSharedTest, CopiesIntoTheContainerAndKeepsExistingCopiesUnlessTold)
{
    const auto source = home.root() / "rules.conf";
    std::ofstream(source) << "first";
    std::error_code error;

    const auto copied = shared.copyToShared(source, "rules", false, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_EQ(copied, container / "rules" / "rules.conf");
    EXPECT_EQ(readFile(*copied), "first");
    EXPECT_EQ(modeOf(*copied), 0644u);
    EXPECT_EQ(log.systemMessages().back(),
              "sysnc.copyItem：" + source.string() + " to " + copied->string());
    EXPECT_TRUE(shared.fileExists("rules.conf", "rules"));
    EXPECT_EQ(shared.sharedFileUrl("rules.conf", "rules"), copied);

    std::ofstream(source) << "second";
    std::filesystem::permissions(*copied, std::filesystem::perms(0600));
    EXPECT_EQ(shared.copyToShared(source, "rules", false, error), copied);
    EXPECT_FALSE(error);
    EXPECT_EQ(readFile(*copied), "first");
    EXPECT_EQ(modeOf(*copied), 0600u);
    EXPECT_EQ(log.printed().back(), "cancel.whenExist：" + copied->string());

    EXPECT_EQ(shared.copyToShared(source, "rules", true, error), copied);
    EXPECT_FALSE(error);
    EXPECT_EQ(readFile(*copied), "second");
    EXPECT_EQ(log.printed().back(), "removeItem：" + copied->string());

    EXPECT_FALSE(shared.copyToShared(home.root() / "missing.conf", "rules", false, error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(shared.fileExists("missing.conf", "rules"));
}

TEST_F(QaroSharedTest, OverwritingNeverLosesTheContainerOrTheOldCopy)
{
    const std::filesystem::path rules = *shared.sharedDirectory("rules");
    std::ofstream(rules / "keep.conf") << "kept";
    std::ofstream(rules / "dir") << "old copy";
    const std::filesystem::path dir = home.root() / "dir";
    std::filesystem::create_directories(dir);
    std::error_code error;

    // A trailing separator names the last component; a directory is no file, and the old copy
    // of that name stays.
    for (const std::string &source : {dir.string(), dir.string() + "//"}) {
        EXPECT_FALSE(shared.copyToShared(source, "rules", true, error)) << source;
        EXPECT_TRUE(error) << source;
        EXPECT_EQ(readFile(rules / "dir"), "old copy");
    }
    for (const std::filesystem::path &nameless :
         {std::filesystem::path("/"), std::filesystem::path(), dir / "..", dir / "."}) {
        EXPECT_FALSE(shared.copyToShared(nameless, "rules", true, error)) << nameless;
        EXPECT_EQ(error, std::errc::invalid_argument) << nameless;
    }
    EXPECT_EQ(readFile(rules / "keep.conf"), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rules), {}), 2);

    // The source already in place is kept as it is, and made readable.
    std::filesystem::permissions(rules / "keep.conf", std::filesystem::perms(0600));
    EXPECT_EQ(shared.copyToShared(container / "rules/./keep.conf", "rules", true, error),
              rules / "keep.conf");
    EXPECT_FALSE(error) << error.message();
    EXPECT_EQ(readFile(rules / "keep.conf"), "kept");
    EXPECT_EQ(modeOf(rules / "keep.conf"), 0644u);

    // A directory in the way is still replaced.
    std::filesystem::create_directories(rules / "sub.conf" / "inner");
    std::ofstream(dir / "sub.conf") << "file";
    EXPECT_EQ(shared.copyToShared(dir / "sub.conf", "rules", true, error), rules / "sub.conf");
    EXPECT_EQ(readFile(rules / "sub.conf"), "file");
}
