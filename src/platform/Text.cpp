#include "Text.h"

namespace Platform::Text {

namespace {

constexpr std::string_view blanks = " \t\r\n";

} // namespace

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool isBlank(char c)
{
    return blanks.find(c) != std::string_view::npos;
}

bool isBlank(std::string_view text)
{
    return text.find_first_not_of(blanks) == std::string_view::npos;
}

} // namespace Platform::Text
