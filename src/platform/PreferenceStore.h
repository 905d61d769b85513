#pragma once

#include "PropertyValue.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace Platform {

// A preferences domain kept in one JSON file of typed values (see PropertyFile).
//
// Every change rewrites the file atomically with mode 0600 (its directory is made 0700), so
// another process reading it sees each change at once and a crash never leaves half a file. Reads
// notice when another process has replaced the file and pick up its contents. A file that does not
// parse is moved aside as "<name>.corrupt-<time>" and the domain starts empty: it is never
// overwritten. Nor is a file that exists but cannot be read: the domain then works from memory
// (writes say false) until the file can be read again, when it is loaded, the changes made
// meanwhile are applied to it and it is saved. Used on one thread at a time.
class PreferenceStore
{
public:
    explicit PreferenceStore(std::filesystem::path file);

    // The user's own preferences and those of an application group, in the XDG config
    // directory. The location is resolved on every call, so a process that moves its XDG
    // directories (a test, say) gets the store of the new place.
    static PreferenceStore &standard();
    static PreferenceStore &group(const std::string &groupIdentifier);

    const std::filesystem::path &file() const { return m_file; }

    std::optional<PropertyValue> value(const std::string &key);

    // Both keep the change in memory even when the file cannot be written or read, and say
    // whether it was written.
    bool setValue(const std::string &key, PropertyValue value);
    bool removeValue(const std::string &key);

private:
    struct FileIdentity
    {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool exists = false;

        bool operator==(const FileIdentity &other) const;
    };

    FileIdentity currentIdentity() const;
    void reloadIfChanged();
    // Applies the changes made while the file could not be read to what it holds, and saves.
    void catchUp();
    void moveAside() const;
    bool save();

    std::filesystem::path m_file;
    PropertyValue m_values = PropertyValue::object();
    FileIdentity m_loaded;
    bool m_everLoaded = false;
    bool m_unreadable = false;
    std::map<std::string, std::optional<PropertyValue>> m_changesWhileUnreadable; // none: removed
};

} // namespace Platform
