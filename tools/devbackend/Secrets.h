#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Dev::Secrets {

// Lower-case hex of the given number of random bytes from OpenSSL's generator.
std::string randomHex(std::size_t bytes);

// A random (version 4) UUID in its usual text form.
std::string randomUuid();

// A string of random decimal digits, for e-mail codes.
std::string randomDigits(std::size_t count);

// Hex SHA-256 of the salt's text followed by the password.
std::string passwordDigest(std::string_view salt, std::string_view password);

} // namespace Dev::Secrets
