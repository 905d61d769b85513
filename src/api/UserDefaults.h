#pragma once

#include "platform/PreferenceStore.h"

#include <cstdint>
#include <optional>
#include <string>

// Typed access to a preferences domain, by default the user's own. A value of another type than
// the one asked for reads as absent; so does a list or dictionary asked for as the other.
class UserDefaults
{
public:
    explicit UserDefaults(Platform::PreferenceStore &store);

    static UserDefaults standard();

    std::optional<std::string> string(const std::string &key) const;
    std::int64_t integer(const std::string &key) const; // 0 when absent
    std::optional<Platform::PropertyValue> list(const std::string &key) const;
    std::optional<Platform::PropertyValue> dictionary(const std::string &key) const;
    std::optional<Platform::PropertyValue> value(const std::string &key) const;

    void set(const std::string &key, Platform::PropertyValue value);
    void remove(const std::string &key);

private:
    Platform::PreferenceStore *m_store;
};
