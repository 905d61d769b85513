#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

// The programs a user's session starts at login: the desktop entries of an XDG autostart
// directory.
class LoginItemList
{
public:
    struct Item
    {
        std::filesystem::path entryFile;
        // The file URL of the bundle holding the entry's program, or of the program itself when it
        // lies in no bundle, with symbolic links resolved; nothing when the entry names no program
        // that can be found.
        std::optional<std::string> resolvedUrl;
        // False when the user turned the entry off: Hidden=true or X-GNOME-Autostart-enabled=false.
        bool enabled = true;
    };

    // The list at $XDG_CONFIG_HOME/autostart; nothing when the configuration directory is unknown
    // or something other than a directory stands in the way.
    static std::optional<LoginItemList> sessionLoginItems();

    explicit LoginItemList(std::filesystem::path autostartDirectory);

    const std::filesystem::path &directory() const { return m_directory; }

    // Every *.desktop entry, in file-name order.
    std::vector<Item> snapshot() const;

    // Adds an entry that runs the bundle or program a file URL names. A program inside a bundle
    // is refused: it is added through its bundle. Duplicates are not checked.
    bool insertItemURL(const std::string &fileUrl);

    // Turns a disabled entry back on: rewrites it, under the file name that lets it override a
    // system entry of that name, to run the bundle or program a file URL names.
    bool enableItem(const Item &item, const std::string &fileUrl);

    bool remove(const Item &item);

    // "file://" and the absolute, lexically normalised path, percent-encoded; the URL of an
    // existing directory ends with "/".
    static std::string fileUrl(const std::filesystem::path &path);
    // The same with symbolic links resolved as far as the path exists: the form in which entries'
    // programs compare, so a launcher linked to a bundle's program resolves into the bundle.
    static std::string resolvedFileUrl(const std::filesystem::path &path);

private:
    std::optional<std::filesystem::path> unusedEntryFile(const std::string &url) const;

    std::filesystem::path m_directory;
};

} // namespace Platform
