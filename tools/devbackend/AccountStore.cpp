#include "AccountStore.h"

#include "Secrets.h"
#include "TimeText.h"

#include "platform/FileOperations.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace Dev {

namespace {

constexpr std::time_t Day = 24 * 3600;
constexpr std::time_t TokenLifetime = 30 * Day;

} // namespace

AccountStore::AccountStore(std::filesystem::path directory)
    : m_directory(std::move(directory))
    , m_file(m_directory / "accounts.json")
{ }

AccountStore::LoadOutcome AccountStore::load(std::time_t now)
{
    LoadOutcome outcome;
    if (const std::error_code error = Platform::createDirectories(m_directory, 0700)) {
        outcome.error = "cannot create " + m_directory.string() + ": " + error.message();
        return outcome;
    }

    std::error_code error;
    if (!std::filesystem::exists(m_file, error)) {
        startFresh(now);
        outcome.error = save();
        return outcome;
    }

    std::ifstream stream(m_file, std::ios::binary);
    if (!stream) {
        outcome.error = "cannot read " + m_file.string();
        return outcome;
    }
    const std::string text{std::istreambuf_iterator<char>(stream), {}};
    try {
        const nlohmann::json document = nlohmann::json::parse(text);
        std::deque<Account> accounts;
        for (const nlohmann::json &entry :
             document.at("accounts").get<std::vector<nlohmann::json>>()) {
            accounts.push_back(Account::fromFile(entry));
        }
        m_nextId = document.at("next_id").get<int>();
        m_accounts = std::move(accounts);
        return outcome;
    } catch (const std::exception &) {
        // Fall through: keep the unreadable file for a look and carry on with a fresh one.
    }

    const std::filesystem::path aside = m_file.string() + ".corrupt-" + fileStamp(now);
    std::filesystem::rename(m_file, aside, error);
    if (error) {
        outcome.error = "cannot move " + m_file.string() + " aside: " + error.message();
        return outcome;
    }
    outcome.movedAside = aside;
    startFresh(now);
    outcome.error = save();
    return outcome;
}

std::string AccountStore::save() const
{
    nlohmann::json accounts = nlohmann::json::array();
    for (const Account &account : m_accounts)
        accounts.push_back(account.toFile());
    const nlohmann::json document = {{"next_id", m_nextId}, {"accounts", accounts}};
    const std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                             + '\n';
    if (const std::error_code error = Platform::writeFileAtomically(m_file, text, 0600))
        return "cannot write " + m_file.string() + ": " + error.message();
    return {};
}

Account *AccountStore::find(std::string_view email)
{
    for (Account &account : m_accounts) {
        if (account.email == email)
            return &account;
    }
    return nullptr;
}

Account *AccountStore::findByToken(std::string_view token, std::time_t now)
{
    if (token.empty())
        return nullptr;
    for (Account &account : m_accounts) {
        for (const Token &candidate : account.tokens) {
            if (candidate.value == token && candidate.expiresAt > now)
                return &account;
        }
    }
    return nullptr;
}

Account *AccountStore::findBySubscription(std::string_view uuid)
{
    if (uuid.empty())
        return nullptr;
    for (Account &account : m_accounts) {
        if (account.hasService && account.service.subUuid == uuid)
            return &account;
    }
    return nullptr;
}

Account &AccountStore::create(std::string_view email, std::string_view password, std::time_t now)
{
    Account &account = m_accounts.emplace_back();
    account.id = m_nextId++;
    account.email = email;
    account.setPassword(password);
    account.memberLevel = 0;
    account.memberExpiresAt = now;
    account.hasService = true;
    account.service.id = 1000 + account.id;
    account.service.totalBandwidth = 10 * Account::GigaByte;
    account.service.subUuid = Secrets::randomUuid();
    return account;
}

std::string AccountStore::issueToken(Account &account, std::time_t now)
{
    std::erase_if(account.tokens, [now](const Token &token) { return token.expiresAt <= now; });
    Token token{Secrets::randomHex(24), now + TokenLifetime};
    account.tokens.push_back(token);
    return token.value;
}

void AccountStore::startFresh(std::time_t now)
{
    m_accounts.clear();
    m_nextId = 1;
    Account &demo = create(DemoEmail, DemoPassword, now);
    demo.memberLevel = 1;
    demo.memberExpiresAt = now + 30 * Day;
    demo.service.totalBandwidth = 100 * Account::GigaByte;
}

} // namespace Dev
