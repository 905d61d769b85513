#include "PreferredLanguages.h"

#include <algorithm>
#include <cstdlib>

namespace Platform {

std::string languageTag(std::string_view locale)
{
    locale = locale.substr(0, std::min(locale.find('.'), locale.find('@')));
    if (locale.empty() || locale == "C" || locale == "POSIX")
        return {};
    std::string tag(locale);
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
}

std::vector<std::string> preferredLanguages()
{
    std::vector<std::string> languages;
    const auto add = [&languages](std::string_view locale) {
        std::string tag = languageTag(locale);
        if (!tag.empty() && std::find(languages.begin(), languages.end(), tag) == languages.end())
            languages.push_back(std::move(tag));
    };

    if (const char *list = std::getenv("LANGUAGE")) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            add(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *locale = std::getenv(variable);
        if (locale && *locale) {
            add(locale);
            break;
        }
    }
    if (languages.empty())
        languages.emplace_back("en");
    return languages;
}

} // namespace Platform
