#pragma once

#include "platform/PropertyValue.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// Both preference domains as their files hold them: the user's and the one shared with the
// tunnel provider.
struct Stored
{
    Platform::PropertyValue user = Platform::PropertyValue::object();
    Platform::PropertyValue group = Platform::PropertyValue::object();

    bool operator==(const Stored &other) const = default;
};

void PrintTo(const Stored &stored, std::ostream *out);

// What a call is expected to change: keys set to a value, or removed (nullopt).
struct Changes
{
    std::map<std::string, std::optional<Platform::PropertyValue>> user;
    std::map<std::string, std::optional<Platform::PropertyValue>> group;

    Stored appliedTo(Stored stored) const;
};

// The preference files of one home: writes the state of a signed-in user whose service answers
// on a given base, and reads both files back.
class StoredPreferences
{
public:
    explicit StoredPreferences(std::filesystem::path configHome);

    // Replaces both files as a whole with a signed-in user's values: token, record, account,
    // node lists, service id, traffic, backups, base and device id, subscription and node.
    Stored arrangeSignedIn(const std::string &base) const;

    // Both files, read and decoded as the preference store does; a file that is missing reads as
    // an empty domain, one that does not parse fails the test.
    Stored read() const;

private:
    std::filesystem::path file(const std::string &domain) const;
    void write(const std::string &domain, const Platform::PropertyValue &values) const;
    Platform::PropertyValue readDomain(const std::string &domain) const;

    std::filesystem::path m_configHome;
};
