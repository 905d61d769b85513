#pragma once

#include "platform/LoginItemList.h"

#include <optional>
#include <string>

// Launch at login: an application is a login item of the session when an enabled entry resolves
// to the file URL of its bundle path, symbolic links resolved on both sides.
class LoginServiceKit
{
public:
    // The first enabled entry that resolves to the path; nothing for an empty path.
    static std::optional<Platform::LoginItemList::Item> findLoginItem(const std::string &path);
    static bool isLoginItem(const std::string &path);
    // False when the path is a login item already or the list cannot be opened. An entry for the
    // path that the user turned off is turned on again in place.
    static bool addLoginItem(const std::string &path);
    // Removes every entry for the path, turned off or not; false when there was none or the list
    // cannot be opened.
    static bool removeLoginItem(const std::string &path);
};

// Registers or unregisters the running application's bundle as a login item.
void setLaunchAtLogin(bool enabled);
