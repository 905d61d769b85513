#include "DeviceKey.h"

#include "platform/Base64.h"
#include "platform/FileOperations.h"
#include "platform/XdgDirectories.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TunnelProvider {

namespace {

struct PkeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};

// The key text in a file: the base64 of 32 bytes and an optional newline.
std::optional<DeviceKey::Bytes> keyBytesOf(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (text.size() != 44)
        return std::nullopt;
    const std::optional<std::string> bytes = Platform::Base64::decode(text);
    if (!bytes || bytes->size() != 32)
        return std::nullopt;
    DeviceKey::Bytes key;
    std::memcpy(key.data(), bytes->data(), key.size());
    return key;
}

// Reads the file without following a link in its place, making it private when it is not.
std::error_code readPrivateFile(const std::filesystem::path &file, std::string &contents)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {errno, std::generic_category()};
    struct stat status
    { };
    std::error_code error;
    if (::fstat(fd, &status) != 0)
        error = {errno, std::generic_category()};
    else if (!S_ISREG(status.st_mode))
        error = std::make_error_code(std::errc::invalid_argument);
    else if ((status.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)
        error = {errno, std::generic_category()};
    char chunk[256];
    while (!error && contents.size() < 4096) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            error = {errno, std::generic_category()};
        if (count <= 0)
            break;
        contents.append(chunk, std::size_t(count));
    }
    ::close(fd);
    return error;
}

} // namespace

std::optional<std::filesystem::path> DeviceKey::defaultFile()
{
    const std::optional<std::filesystem::path> data = Platform::XdgDirectories::dataHome();
    if (!data)
        return std::nullopt;
    return *data / "com.qaromac.wv" / "wireguard" / "device.key";
}

std::optional<DeviceKey> DeviceKey::loadOrCreate(const std::filesystem::path &file,
                                                 std::string &error,
                                                 std::string &note)
{
    if (const std::error_code made = Platform::createDirectories(file.parent_path(), 0700)) {
        error = "cannot make " + file.parent_path().native() + ": " + made.message();
        return std::nullopt;
    }
    std::string text;
    const std::error_code read = readPrivateFile(file, text);
    if (!read) {
        if (const std::optional<Bytes> bytes = keyBytesOf(text)) {
            if (std::optional<DeviceKey> key = fromPrivateKey(*bytes))
                return key;
        }
        std::error_code moved;
        const auto aside = Platform::moveAside(file, moved);
        if (!aside) {
            error = "the device key " + file.native()
                    + " is damaged and cannot be moved aside: " + moved.message();
            return std::nullopt;
        }
        note = "the device key held no key; moved to " + aside->native() + ", made a new one";
    } else if (read != std::errc::no_such_file_or_directory) {
        error = "cannot read the device key " + file.native() + ": " + read.message();
        return std::nullopt;
    }

    Bytes bytes;
    if (RAND_bytes(bytes.data(), int(bytes.size())) != 1) {
        error = "no random bytes for a device key";
        return std::nullopt;
    }
    std::optional<DeviceKey> key = fromPrivateKey(bytes);
    if (!key) {
        error = "cannot make a device key";
        return std::nullopt;
    }
    if (const std::error_code written = Platform::writeFileAtomically(file,
                                                                      key->privateKey() + "\n",
                                                                      0600)) {
        error = "cannot write the device key " + file.native() + ": " + written.message();
        return std::nullopt;
    }
    return key;
}

std::optional<DeviceKey> DeviceKey::fromPrivateKey(Bytes privateKey)
{
    // The clamping X25519 applies anyway, kept in the stored key as WireGuard's tools do.
    privateKey[0] &= 248;
    privateKey[31] = std::uint8_t((privateKey[31] & 127) | 64);
    const std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519,
                                                                               nullptr,
                                                                               privateKey.data(),
                                                                               privateKey.size()));
    Bytes publicKey;
    std::size_t length = publicKey.size();
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &length) != 1
        || length != publicKey.size()) {
        return std::nullopt;
    }
    const auto text = [](const Bytes &bytes) {
        return Platform::Base64::encode(
            std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
    };
    return DeviceKey(text(privateKey), text(publicKey));
}

DeviceKey::DeviceKey(std::string privateKey, std::string publicKey)
    : m_private(std::move(privateKey))
    , m_public(std::move(publicKey))
{ }

} // namespace TunnelProvider
