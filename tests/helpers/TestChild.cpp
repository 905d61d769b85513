// The other process of cross-process tests. One command per run:
//   prefs-write-loop FILE      rewrites FILE's preferences forever, printing each round's number
//   prefs-value FILE KEY       prints KEY of FILE's preferences as JSON, or "absent"
//   shared-value KEY           prints KEY of the group's shared values as JSON, or "absent"
//   keychain-add ACCOUNT TEXT  prints "added" or "refused"
//   keychain-find ACCOUNT      prints "found:" and the item's text, or "absent"

#include "api/QaroShared.h"
#include "platform/Keychain.h"
#include "platform/PreferenceStore.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

namespace {

void printValue(const std::optional<Platform::PropertyValue> &value)
{
    std::cout << (value ? value->dump() : std::string("absent")) << std::endl;
}

int writeForever(const std::string &file)
{
    Platform::PreferenceStore store(file);
    for (long round = 0;; ++round) {
        // Payloads of changing size, so that a torn write would show as broken JSON.
        store.setValue("payload",
                       std::string(std::size_t(4096 * (1 + round % 7)), 'a' + round % 26));
        store.setValue("round", round);
        std::cout << round << std::endl;
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "prefs-write-loop" && argc == 3)
        return writeForever(argv[2]);
    if (command == "prefs-value" && argc == 4) {
        Platform::PreferenceStore store(argv[2]);
        printValue(store.value(argv[3]));
        return 0;
    }
    if (command == "shared-value" && argc == 3) {
        printValue(QaroShared::shared().value(argv[2]));
        return 0;
    }
    if (command == "keychain-add" && argc == 4) {
        std::cout << (Platform::Keychain::addGenericPassword(argv[2], argv[3]) ? "added" : "refused")
                  << std::endl;
        return 0;
    }
    if (command == "keychain-find" && argc == 3) {
        const auto found = Platform::Keychain::findGenericPassword(argv[2]);
        std::cout << (found ? "found:" + *found : std::string("absent")) << std::endl;
        return 0;
    }
    std::fprintf(stderr, "usage: see the comment at the top of TestChild.cpp\n");
    return 2;
}
