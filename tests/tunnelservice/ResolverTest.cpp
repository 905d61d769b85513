#include "tunnelservice/Resolver.h"

#include "platform/FileOperations.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TunnelService;
namespace fs = std::filesystem;

namespace {

const char *const written = "# written by OrvaneVPN's tunnel service\n"
                            "nameserver 198.18.0.53\n"
                            "nameserver 2001:db8::53\n";

std::vector<IpPrefix> servers()
{
    return {*IpPrefix::parse("198.18.0.53"), *IpPrefix::parse("2001:db8::53")};
}

std::string readText(const fs::path &file)
{
    std::string contents;
    return Platform::readFile(file, contents) ? "(unreadable)" : contents;
}

void writeText(const fs::path &file, const std::string &contents, mode_t mode = 0644)
{
    ASSERT_FALSE(Platform::writeFileAtomically(file, contents, mode));
}

mode_t modeOf(const fs::path &file)
{
    struct stat status = {};
    ::lstat(file.c_str(), &status);
    return status.st_mode & 07777;
}

// Moves the test's thread into a mount namespace of its own, whose mounts nobody else sees, and
// back at the end.
class MountNamespace
{
public:
    MountNamespace()
    {
        if (::geteuid() != 0) {
            m_reason = "needs root";
            return;
        }
        m_original = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
        m_directory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        m_entered = m_original >= 0 && m_directory >= 0 && ::unshare(CLONE_NEWNS) == 0;
        if (!m_entered || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            m_reason = std::string("cannot make a private mount namespace: ")
                       + std::strerror(errno);
    }
    ~MountNamespace()
    {
        // Going back also changes the working directory to the root.
        if (m_entered && ::setns(m_original, CLONE_NEWNS) == 0)
            ::fchdir(m_directory);
        for (int fd : {m_original, m_directory}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // Why the namespace cannot be used, or nothing.
    const std::string &reason() const { return m_reason; }

private:
    int m_original = -1;
    int m_directory = -1;
    bool m_entered = false;
    std::string m_reason;
};

class ResolverTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char directory[] = "/tmp/resolver-test-XXXXXX";
        ASSERT_TRUE(::mkdtemp(directory));
        m_directory = directory;
        m_resolvConf = m_directory / "resolv.conf";
        const char *path = std::getenv("PATH");
        m_path = path ? path : "";
        fs::create_directory(m_directory / "bin");
        ::setenv("PATH", (m_directory / "bin").c_str(), 1);
    }

    void TearDown() override
    {
        ::setenv("PATH", m_path.c_str(), 1);
        fs::remove_all(m_directory);
    }

    Resolver::Applied plan(Resolver::Backend backend, const std::string &interface = "ts0")
    {
        return Resolver::plan(backend, interface, 7, m_resolvConf, m_directory / "state");
    }

    // A resolvconf that records its arguments and input, and fails for the link "fail0".
    void installFakeResolvconf()
    {
        const fs::path log = m_directory / "resolvconf.log";
        writeText(m_directory / "bin" / "resolvconf",
                  "#!/bin/sh\n"
                  "echo \"$*\" >> "
                      + log.string() + "\ncat >> " + log.string()
                      + "\n"
                        "if [ \"$2\" = fail0 ]; then echo \"no such link: $2\" >&2; exit 1; fi\n",
                  0755);
        ::setenv("PATH", ((m_directory / "bin").string() + ":/usr/bin:/bin").c_str(), 1);
    }

    fs::path m_directory;
    fs::path m_resolvConf;
    std::string m_path;
    std::string m_error;
};

} // namespace

TEST_F(ResolverTest, DetectsTheBackend)
{
    for (const char *target :
         {"../run/systemd/resolve/stub-resolv.conf", "/run/systemd/resolve/resolv.conf"}) {
        fs::remove(m_resolvConf);
        fs::create_symlink(target, m_resolvConf);
        EXPECT_EQ(Resolver::detect(m_resolvConf), Resolver::Backend::resolved) << target;
    }
    fs::remove(m_resolvConf);
    fs::create_symlink("../run/elsewhere/resolv.conf", m_resolvConf);
    EXPECT_EQ(Resolver::detect(m_resolvConf), Resolver::Backend::file);

    fs::remove(m_resolvConf);
    writeText(m_resolvConf, "# stub\nnameserver 127.0.0.53\noptions edns0 trust-ad\nsearch .\n");
    EXPECT_EQ(Resolver::detect(m_resolvConf), Resolver::Backend::resolved);

    writeText(m_resolvConf, "nameserver 127.0.0.53\nnameserver 192.0.2.53\n");
    EXPECT_EQ(Resolver::detect(m_resolvConf), Resolver::Backend::file);
    writeText(m_directory / "bin" / "resolvconf", "#!/bin/sh\n", 0644);
    EXPECT_EQ(Resolver::detect(m_resolvConf), Resolver::Backend::file);
    fs::permissions(m_directory / "bin" / "resolvconf",
                    fs::perms::owner_exec,
                    fs::perm_options::add);
    EXPECT_EQ(Resolver::detect(m_resolvConf), Resolver::Backend::resolvconf);
}

TEST_F(ResolverTest, FileKeepsTheFirstBackupAndRestoresTheSameBytes)
{
    const std::string original = "nameserver 192.0.2.53\nsearch example\n# no final newline";
    writeText(m_resolvConf, original, 0640);
    const Resolver::Applied applied = plan(Resolver::Backend::file);
    EXPECT_EQ(applied.backup, m_directory / "state" / "resolv.conf.backup");

    EXPECT_EQ(Resolver::apply(applied, {}, m_error), std::errc::invalid_argument);
    EXPECT_FALSE(fs::exists(applied.backup));

    ASSERT_FALSE(Resolver::apply(applied, servers(), m_error)) << m_error;
    EXPECT_EQ(readText(m_resolvConf), written);
    EXPECT_EQ(modeOf(m_resolvConf), 0640u);
    EXPECT_EQ(readText(applied.backup), original);
    EXPECT_EQ(modeOf(applied.backup), 0600u);

    // A second apply, as after a crash, keeps the backup of the state before the tunnel.
    ASSERT_FALSE(Resolver::apply(applied, {*IpPrefix::parse("203.0.113.53")}, m_error));
    EXPECT_EQ(readText(m_resolvConf),
              "# written by OrvaneVPN's tunnel service\n"
              "nameserver 203.0.113.53\n");
    EXPECT_EQ(readText(applied.backup), original);

    for (int round = 0; round < 2; ++round) {
        ASSERT_FALSE(Resolver::restore(applied, m_error)) << m_error;
        EXPECT_EQ(readText(m_resolvConf), original);
        EXPECT_EQ(modeOf(m_resolvConf), 0640u);
        EXPECT_FALSE(fs::exists(applied.backup));
    }
}

TEST_F(ResolverTest, FileReplacesASymlinkAndPutsItBack)
{
    writeText(m_directory / "target.conf", "nameserver 192.0.2.53\n");
    fs::create_symlink("target.conf", m_resolvConf);
    const Resolver::Applied applied = plan(Resolver::Backend::file);

    ASSERT_FALSE(Resolver::apply(applied, servers(), m_error)) << m_error;
    EXPECT_FALSE(fs::is_symlink(m_resolvConf));
    EXPECT_EQ(readText(m_resolvConf), written);
    EXPECT_EQ(readText(m_directory / "target.conf"), "nameserver 192.0.2.53\n");

    ASSERT_FALSE(Resolver::restore(applied, m_error)) << m_error;
    ASSERT_TRUE(fs::is_symlink(m_resolvConf));
    EXPECT_EQ(fs::read_symlink(m_resolvConf), "target.conf");
    EXPECT_EQ(readText(m_directory / "target.conf"), "nameserver 192.0.2.53\n");
    EXPECT_FALSE(fs::is_symlink(applied.backup));
}

TEST_F(ResolverTest, FileRewritesABindMountInPlace)
{
    const MountNamespace mounts;
    if (!mounts.reason().empty())
        GTEST_SKIP() << mounts.reason();
    const std::string original = "nameserver 192.0.2.53\n";
    writeText(m_directory / "netns.conf", original);
    writeText(m_resolvConf, "");
    ASSERT_EQ(::mount((m_directory / "netns.conf").c_str(),
                      m_resolvConf.c_str(),
                      nullptr,
                      MS_BIND,
                      nullptr),
              0)
        << std::strerror(errno);
    const Resolver::Applied applied = plan(Resolver::Backend::file);

    ASSERT_FALSE(Resolver::apply(applied, servers(), m_error)) << m_error;
    EXPECT_EQ(readText(m_directory / "netns.conf"), written);
    ASSERT_FALSE(Resolver::restore(applied, m_error)) << m_error;
    EXPECT_EQ(readText(m_directory / "netns.conf"), original);

    // Nothing is left beside the file.
    std::vector<std::string> entries;
    for (const fs::directory_entry &entry : fs::directory_iterator(m_directory))
        entries.push_back(entry.path().filename());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"bin", "netns.conf", "resolv.conf", "state"}));
}

TEST_F(ResolverTest, ResolvconfGetsTheServersOnItsInput)
{
    installFakeResolvconf();
    writeText(m_resolvConf, "nameserver 192.0.2.53\n");
    EXPECT_EQ(Resolver::detect(m_resolvConf), Resolver::Backend::resolvconf);

    const Resolver::Applied applied = plan(Resolver::Backend::resolvconf);
    ASSERT_FALSE(Resolver::apply(applied, servers(), m_error)) << m_error;
    ASSERT_FALSE(Resolver::restore(applied, m_error)) << m_error;
    EXPECT_EQ(readText(m_directory / "resolvconf.log"),
              "-a ts0 -m 0 -x\n"
              "nameserver 198.18.0.53\n"
              "nameserver 2001:db8::53\n"
              "-d ts0 -f\n");
    EXPECT_EQ(readText(m_resolvConf), "nameserver 192.0.2.53\n");

    EXPECT_EQ(Resolver::apply(plan(Resolver::Backend::resolvconf, "fail0"), servers(), m_error),
              std::errc::io_error);
    EXPECT_NE(m_error.find("no such link: fail0"), std::string::npos) << m_error;
}
