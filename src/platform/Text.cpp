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

std::vector<std::string> lines(std::string_view text)
{
    // Each break with its length in bytes; CR LF is tried before CR.
    static constexpr std::string_view breaks[]
        = {"\r\n", "\n", "\v", "\f", "\r", "\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"};
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 0;
        for (const std::string_view lineBreak : breaks) {
            if (text.substr(i, lineBreak.size()) == lineBreak) {
                length = lineBreak.size();
                break;
            }
        }
        if (length == 0) {
            ++i;
            continue;
        }
        pieces.emplace_back(text.substr(start, i - start));
        i += length;
        start = i;
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

bool hasControlCharacter(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

} // namespace Platform::Text
