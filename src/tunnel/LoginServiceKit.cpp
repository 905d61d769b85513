#include "LoginServiceKit.h"

#include "platform/Bundle.h"

using Platform::LoginItemList;

std::optional<LoginItemList::Item> LoginServiceKit::findLoginItem(const std::string &path)
{
    if (path.empty())
        return std::nullopt;
    const std::optional<LoginItemList> list = LoginItemList::sessionLoginItems();
    if (!list)
        return std::nullopt;
    const std::string url = LoginItemList::fileUrl(path);
    for (LoginItemList::Item &item : list->snapshot()) {
        if (item.resolvedUrl == url)
            return std::move(item);
    }
    return std::nullopt;
}

bool LoginServiceKit::isLoginItem(const std::string &path)
{
    return findLoginItem(path).has_value();
}

bool LoginServiceKit::addLoginItem(const std::string &path)
{
    // An empty path would otherwise stand for the working directory.
    if (path.empty() || findLoginItem(path))
        return false;
    std::optional<LoginItemList> list = LoginItemList::sessionLoginItems();
    if (!list)
        return false;
    // Callers only learn whether the item was missing; a failed write is logged by the list.
    list->insertItemURL(LoginItemList::fileUrl(path));
    return true;
}

bool LoginServiceKit::removeLoginItem(const std::string &path)
{
    if (!findLoginItem(path))
        return false;
    std::optional<LoginItemList> list = LoginItemList::sessionLoginItems();
    if (!list)
        return false;
    const std::string url = LoginItemList::fileUrl(path);
    for (const LoginItemList::Item &item : list->snapshot()) {
        if (item.resolvedUrl == url)
            list->remove(item);
    }
    return true;
}

void setLaunchAtLogin(bool enabled)
{
    const std::string path = Platform::Bundle::main().bundlePath().string();
    if (enabled)
        LoginServiceKit::addLoginItem(path);
    else
        LoginServiceKit::removeLoginItem(path);
}
