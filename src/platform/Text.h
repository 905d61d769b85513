#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Platform::Text {

// The text without the spaces, tabs and line ends around it.
std::string_view trimmed(std::string_view text);

// Whether the character is a space, a tab or a line end.
bool isBlank(char c);
// Whether the text holds nothing but spaces, tabs and line ends.
bool isBlank(std::string_view text);

// The pieces of UTF-8 text between line breaks: LF, VT, FF, CR, CR LF (one break), NEL, and the
// line and paragraph separators U+2028 and U+2029. Empty pieces are kept; a text without a break
// is one piece.
std::vector<std::string> lines(std::string_view text);

// Whether the text holds a control character (below U+0020, or DEL), which no header may carry.
bool hasControlCharacter(std::string_view text);

} // namespace Platform::Text
