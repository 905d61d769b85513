#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Platform::Keychain {

// Generic-password items of the user's Secret Service, told apart by their "account" attribute.
//
// The calls never start a session bus of their own and never wait on an unlock prompt: without a
// session bus, without a Secret Service, with a locked keyring, or when the service has not
// answered within timeoutSeconds, they give up and fail silently.
inline constexpr double timeoutSeconds = 2.0;

// Adds an item holding the bytes of data. An item that exists for the account stays as it was,
// and the add fails.
bool addGenericPassword(const std::string &account, std::string_view data);

// The bytes of the account's item, or nothing.
std::optional<std::string> findGenericPassword(const std::string &account);

} // namespace Platform::Keychain
