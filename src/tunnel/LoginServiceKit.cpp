#include "LoginServiceKit.h"

#include "platform/Bundle.h"

#include <algorithm>
#include <vector>

using Platform::LoginItemList;

namespace {

// The entries that run the path, turned off or not, in file-name order.
std::vector<LoginItemList::Item> entriesFor(const LoginItemList &list, const std::string &path)
{
    const std::string url = LoginItemList::resolvedFileUrl(path);
    std::vector<LoginItemList::Item> entries;
    for (LoginItemList::Item &item : list.snapshot()) {
        if (item.resolvedUrl == url)
            entries.push_back(std::move(item));
    }
    return entries;
}

} // namespace

std::optional<LoginItemList::Item> LoginServiceKit::findLoginItem(const std::string &path)
{
    if (path.empty())
        return std::nullopt;
    const std::optional<LoginItemList> list = LoginItemList::sessionLoginItems();
    if (!list)
        return std::nullopt;
    for (LoginItemList::Item &item : entriesFor(*list, path)) {
        if (item.enabled)
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
    if (path.empty())
        return false;
    std::optional<LoginItemList> list = LoginItemList::sessionLoginItems();
    if (!list)
        return false;
    const std::vector<LoginItemList::Item> entries = entriesFor(*list, path);
    if (std::any_of(entries.begin(), entries.end(), [](const auto &item) { return item.enabled; }))
        return false;
    // Callers only learn whether the item was missing; a failed write is logged by the list. A
    // turned-off entry is turned on again rather than joined by a second one.
    const std::string url = LoginItemList::resolvedFileUrl(path);
    if (entries.empty())
        list->insertItemURL(url);
    else
        list->enableItem(entries.front(), url);
    return true;
}

bool LoginServiceKit::removeLoginItem(const std::string &path)
{
    if (path.empty())
        return false;
    std::optional<LoginItemList> list = LoginItemList::sessionLoginItems();
    if (!list)
        return false;
    const std::vector<LoginItemList::Item> entries = entriesFor(*list, path);
    for (const LoginItemList::Item &item : entries)
        list->remove(item);
    return !entries.empty();
}

void setLaunchAtLogin(bool enabled)
{
    const std::string path = Platform::Bundle::main().bundlePath().string();
    if (enabled)
        LoginServiceKit::addLoginItem(path);
    else
        LoginServiceKit::removeLoginItem(path);
}
