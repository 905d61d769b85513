#pragma once

#include <optional>
#include <string>

// The client's keychain item: a generic password per account, holding UTF-8 text.
class WvKeyChain
{
public:
    // Adds the item; an item that exists for the account is kept and nothing is reported.
    static void saveString(const std::string &account, const std::string &value);

    // The item's text, or nothing when there is no item or its data is not UTF-8.
    static std::optional<std::string> loadString(const std::string &account);
};
