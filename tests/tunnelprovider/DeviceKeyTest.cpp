#include "TemporaryHome.h"

#include "tunnelprovider/DeviceKey.h"

#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

using TunnelProvider::DeviceKey;

namespace {

mode_t modeOf(const std::filesystem::path &path)
{
    struct stat status
    { };
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

std::string contentsOf(const std::filesystem::path &path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

} // namespace

TEST(DeviceKeyTest, DerivesThePublicKeyAsX25519Does)
{
    // RFC 7748, section 6.1: Alice's key pair.
    const DeviceKey::Bytes alice = {0x77, 0x07, 0x6d, 0x0a, 0x73, 0x18, 0xa5, 0x7d,
                                    0x3c, 0x16, 0xc1, 0x72, 0x51, 0xb2, 0x66, 0x45,
                                    0xdf, 0x4c, 0x2f, 0x87, 0xeb, 0xc0, 0x99, 0x2a,
                                    0xb1, 0x77, 0xfb, 0xa5, 0x1d, 0xb9, 0x2c, 0x2a};
    const std::optional<DeviceKey> key = DeviceKey::fromPrivateKey(alice);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->publicKey(), "hSDwCYkwp1R0i33ctD73Wg2/Og0mOBr066SpjqqbTmo=");
    // Stored clamped, as WireGuard's own tools store it.
    EXPECT_EQ(key->privateKey(), "cAdtCnMYpX08FsFyUbJmRd9ML4frwJkqsXf7pR25LGo=");
}

TEST(DeviceKeyTest, IsMadeOnceKeptPrivateAndReplacedWhenDamaged)
{
    TemporaryHome home;
    const std::filesystem::path file = home.dataHome() / "com.qaromac.wv" / "wireguard"
                                       / "device.key";
    std::string error;
    std::string note;
    const std::optional<DeviceKey> made = DeviceKey::loadOrCreate(file, error, note);
    ASSERT_TRUE(made) << error;
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.parent_path()), 0700u);
    EXPECT_EQ(contentsOf(file), made->privateKey() + "\n");

    // Read back, and made private again when it was not.
    ::chmod(file.c_str(), 0644);
    const std::optional<DeviceKey> again = DeviceKey::loadOrCreate(file, error, note);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->publicKey(), made->publicKey());
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_TRUE(note.empty());

    // 43 characters are not a key: moved aside, and a new key takes its place.
    std::ofstream(file) << made->privateKey().substr(1) << "\n";
    const std::optional<DeviceKey> fresh = DeviceKey::loadOrCreate(file, error, note);
    ASSERT_TRUE(fresh) << error;
    EXPECT_NE(fresh->publicKey(), made->publicKey());
    EXPECT_NE(note.find("moved"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                            std::filesystem::directory_iterator()),
              2);

    // A link in the key's place is not followed.
    std::filesystem::remove(file);
    std::filesystem::create_symlink(home.root() / "elsewhere", file);
    EXPECT_FALSE(DeviceKey::loadOrCreate(file, error, note));
    EXPECT_FALSE(std::filesystem::exists(home.root() / "elsewhere"));
}
