#include "TimeText.h"

#include <cstdio>

namespace Dev {

namespace {

// China has kept one offset all year since 1991.
constexpr std::time_t ShanghaiOffset = 8 * 3600;

bool isDigits(std::string_view text)
{
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return !text.empty();
}

int number(std::string_view digits)
{
    int value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

} // namespace

std::string shanghaiTimestamp(std::time_t time)
{
    const std::time_t shifted = time + ShanghaiOffset;
    std::tm parts{};
    gmtime_r(&shifted, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+08:00", &parts);
    return text;
}

std::optional<std::time_t> parseTimestamp(std::string_view text)
{
    // Fixed positions: YYYY-MM-DDTHH:MM:SS
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ')
        || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const std::string_view fields[] = {text.substr(0, 4),
                                       text.substr(5, 2),
                                       text.substr(8, 2),
                                       text.substr(11, 2),
                                       text.substr(14, 2),
                                       text.substr(17, 2)};
    for (const std::string_view field : fields) {
        if (!isDigits(field))
            return std::nullopt;
    }
    std::tm parts{};
    parts.tm_year = number(fields[0]) - 1900;
    parts.tm_mon = number(fields[1]) - 1;
    parts.tm_mday = number(fields[2]);
    parts.tm_hour = number(fields[3]);
    parts.tm_min = number(fields[4]);
    parts.tm_sec = number(fields[5]);
    if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > 31
        || parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 60) {
        return std::nullopt;
    }

    std::string_view rest = text.substr(19);
    if (!rest.empty() && rest.front() == '.') {
        std::size_t end = 1;
        while (end < rest.size() && rest[end] >= '0' && rest[end] <= '9')
            ++end;
        if (end == 1)
            return std::nullopt;
        rest.remove_prefix(end);
    }

    std::time_t offset = ShanghaiOffset;
    if (rest == "Z") {
        offset = 0;
    } else if (!rest.empty()) {
        const char sign = rest.front();
        rest.remove_prefix(1);
        std::string_view hours;
        std::string_view minutes;
        if (rest.size() == 5 && rest[2] == ':') {
            hours = rest.substr(0, 2);
            minutes = rest.substr(3, 2);
        } else if (rest.size() == 4) {
            hours = rest.substr(0, 2);
            minutes = rest.substr(2, 2);
        }
        if ((sign != '+' && sign != '-') || !isDigits(hours) || !isDigits(minutes))
            return std::nullopt;
        offset = (number(hours) * 3600 + number(minutes) * 60) * (sign == '-' ? -1 : 1);
    }
    return timegm(&parts) - offset;
}

std::string fileStamp(std::time_t time)
{
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

} // namespace Dev
