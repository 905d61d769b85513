#include "Secrets.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <vector>

namespace Dev::Secrets {

namespace {

std::vector<unsigned char> randomBytes(std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    // Without entropy nothing here is safe to hand out; this cannot happen on a working Linux.
    if (RAND_bytes(bytes.data(), int(count)) != 1)
        std::abort();
    return bytes;
}

std::string toHex(const unsigned char *bytes, std::size_t count)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0f];
    }
    return text;
}

} // namespace

std::string randomHex(std::size_t bytes)
{
    const std::vector<unsigned char> random = randomBytes(bytes);
    return toHex(random.data(), random.size());
}

std::string randomUuid()
{
    std::vector<unsigned char> bytes = randomBytes(16);
    bytes[6] = (bytes[6] & 0x0f) | 0x40;
    bytes[8] = (bytes[8] & 0x3f) | 0x80;
    const std::string hex = toHex(bytes.data(), bytes.size());
    return hex.substr(0, 8) + '-' + hex.substr(8, 4) + '-' + hex.substr(12, 4) + '-'
           + hex.substr(16, 4) + '-' + hex.substr(20);
}

std::string randomDigits(std::size_t count)
{
    std::string digits;
    for (const unsigned char byte : randomBytes(count * 2)) {
        // Rejecting the top of the range keeps every digit equally likely.
        if (byte < 250)
            digits += char('0' + byte % 10);
        if (digits.size() == count)
            return digits;
    }
    return digits + randomDigits(count - digits.size());
}

std::string passwordDigest(std::string_view salt, std::string_view password)
{
    std::string input;
    input.reserve(salt.size() + password.size());
    input.append(salt).append(password);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        std::abort();
    return toHex(digest, length);
}

} // namespace Dev::Secrets
