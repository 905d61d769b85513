#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// The user's preferred languages as language tags, most preferred first: the list in LANGUAGE,
// then the first of LC_ALL, LC_MESSAGES and LANG that is set. "C" and "POSIX" name no language;
// when nothing names one, the list is {"en"}.
std::vector<std::string> preferredLanguages();

// "zh_CN.UTF-8" -> "zh-CN", "de_DE@euro" -> "de-DE"; empty for "C", "POSIX" or nothing.
std::string languageTag(std::string_view locale);

} // namespace Platform
