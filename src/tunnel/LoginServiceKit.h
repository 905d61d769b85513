#pragma once

#include "platform/LoginItemList.h"

#include <optional>
#include <string>

// Launch at login: an application is a login item of the session when an entry resolves to the
// file URL of its bundle path.
class LoginServiceKit
{
public:
    // The first entry that resolves to the path; nothing for an empty path.
    static std::optional<Platform::LoginItemList::Item> findLoginItem(const std::string &path);
    static bool isLoginItem(const std::string &path);
    // False when the path is a login item already or the list cannot be opened.
    static bool addLoginItem(const std::string &path);
    // Removes every entry for the path; false when there was none or the list cannot be opened.
    static bool removeLoginItem(const std::string &path);
};

// Registers or unregisters the running application's bundle as a login item.
void setLaunchAtLogin(bool enabled);
