#include "UserDefaults.h"

#include <limits>

UserDefaults::UserDefaults(Platform::PreferenceStore &store)
    : m_store(&store)
{ }

UserDefaults UserDefaults::standard()
{
    return UserDefaults(Platform::PreferenceStore::standard());
}

std::optional<std::string> UserDefaults::string(const std::string &key) const
{
    auto stored = m_store->value(key);
    if (!stored || !stored->is_string())
        return std::nullopt;
    return stored->get<std::string>();
}

std::int64_t UserDefaults::integer(const std::string &key) const
{
    const auto stored = m_store->value(key);
    if (!stored || !stored->is_number_integer())
        return 0;
    if (stored->is_number_unsigned()
        && stored->get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return 0;
    return stored->get<std::int64_t>();
}

std::optional<Platform::PropertyValue> UserDefaults::list(const std::string &key) const
{
    auto stored = m_store->value(key);
    if (!stored || !stored->is_array())
        return std::nullopt;
    return stored;
}

std::optional<Platform::PropertyValue> UserDefaults::dictionary(const std::string &key) const
{
    auto stored = m_store->value(key);
    if (!stored || !stored->is_object())
        return std::nullopt;
    return stored;
}

std::optional<Platform::PropertyValue> UserDefaults::value(const std::string &key) const
{
    return m_store->value(key);
}

void UserDefaults::set(const std::string &key, Platform::PropertyValue value)
{
    m_store->setValue(key, std::move(value));
}

void UserDefaults::remove(const std::string &key)
{
    m_store->removeValue(key);
}
