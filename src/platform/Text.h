#pragma once

#include <string_view>

namespace Platform::Text {

// The text without the spaces, tabs and line ends around it.
std::string_view trimmed(std::string_view text);

// Whether the character is a space, a tab or a line end.
bool isBlank(char c);
// Whether the text holds nothing but spaces, tabs and line ends.
bool isBlank(std::string_view text);

} // namespace Platform::Text
