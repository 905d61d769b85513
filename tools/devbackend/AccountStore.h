#pragma once

#include "Account.h"

#include <ctime>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace Dev {

// The accounts and their file, accounts.json in the data directory. Not thread-safe: the backend
// holds its lock around every use.
class AccountStore
{
public:
    static constexpr std::string_view DemoEmail = "demo@orvane.test";
    static constexpr std::string_view DemoPassword = "demo123456";

    struct LoadOutcome
    {
        std::string error;                               // empty when the store is usable
        std::optional<std::filesystem::path> movedAside; // where a file that did not parse went
    };

    explicit AccountStore(std::filesystem::path directory);

    // Reads the file; without one, starts with the demo account and writes it out.
    LoadOutcome load(std::time_t now);
    // Writes every account out; an empty string when it worked, else why not.
    std::string save() const;

    const std::filesystem::path &file() const { return m_file; }

    Account *find(std::string_view email);
    Account *findByToken(std::string_view token, std::time_t now);
    // The account whose service has the subscription's uuid; an account without a service has
    // none, and an empty uuid is nobody's.
    Account *findBySubscription(std::string_view uuid);

    // A new account with the defaults of a fresh registration.
    Account &create(std::string_view email, std::string_view password, std::time_t now);
    std::string issueToken(Account &account, std::time_t now);

private:
    void startFresh(std::time_t now);

    std::filesystem::path m_directory;
    std::filesystem::path m_file;
    std::deque<Account> m_accounts; // a deque keeps references valid while it grows
    int m_nextId = 1;
};

} // namespace Dev
