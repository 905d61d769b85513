#include "DateFormat.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace Platform::DateFormat {

namespace {

struct Field
{
    char letter = 0; // 0 for literal text
    int count = 0;
    std::string literal;
};

std::vector<Field> tokens(std::string_view pattern)
{
    std::vector<Field> fields;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') {
            const std::size_t end = pattern.find('\'', i + 1);
            const std::size_t stop = end == std::string_view::npos ? pattern.size() : end;
            fields.push_back({0, 0, std::string(pattern.substr(i + 1, stop - i - 1))});
            i = stop + 1;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            std::size_t j = i;
            while (j < pattern.size() && pattern[j] == c)
                ++j;
            fields.push_back({c, int(j - i), {}});
            i = j;
        } else {
            fields.push_back({0, 0, std::string(1, c)});
            ++i;
        }
    }
    return fields;
}

long daysFromCivil(long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = unsigned(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + long(dayOfEra) - 719468;
}

int daysInMonth(long year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

struct Parsed
{
    long year = 1970;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0;
    long nanoseconds = 0;
    std::optional<int> offsetSeconds;
};

bool readNumber(std::string_view text, std::size_t &at, int minDigits, int maxDigits, long &value)
{
    int digits = 0;
    value = 0;
    while (at < text.size() && digits < maxDigits && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at++] - '0');
        ++digits;
    }
    return digits >= minDigits;
}

bool readOffset(std::string_view text, std::size_t &at, bool extended, int &offset)
{
    if (at < text.size() && text[at] == 'Z') {
        ++at;
        offset = 0;
        return true;
    }
    if (at >= text.size() || (text[at] != '+' && text[at] != '-'))
        return false;
    const int sign = text[at++] == '-' ? -1 : 1;
    long hours = 0, minutes = 0, seconds = 0;
    if (!readNumber(text, at, 2, 2, hours))
        return false;
    if (at < text.size() && text[at] == ':') {
        ++at;
        if (!readNumber(text, at, 2, 2, minutes))
            return false;
        if (extended && at < text.size() && text[at] == ':') {
            ++at;
            if (!readNumber(text, at, 2, 2, seconds))
                return false;
        }
    } else {
        return false;
    }
    if (hours > 18 || minutes > 59 || seconds > 59)
        return false;
    offset = sign * int(hours * 3600 + minutes * 60 + seconds);
    return true;
}

std::optional<Parsed> parseFields(std::string_view text, std::string_view pattern)
{
    Parsed parsed;
    std::size_t at = 0;
    for (const Field &field : tokens(pattern)) {
        long value = 0;
        switch (field.letter) {
        case 0:
            if (text.substr(at, field.literal.size()) != field.literal)
                return std::nullopt;
            at += field.literal.size();
            continue;
        case 'y':
            if (!readNumber(text, at, 1, 9, value))
                return std::nullopt;
            parsed.year = value;
            continue;
        case 'S': {
            const std::size_t start = at;
            if (!readNumber(text, at, 1, 9, value))
                return std::nullopt;
            for (std::size_t digits = at - start; digits < 9; ++digits)
                value *= 10;
            parsed.nanoseconds = value;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9')
                ++at; // digits finer than a nanosecond
            continue;
        }
        case 'X': {
            int offset = 0;
            if (!readOffset(text, at, field.count >= 5, offset))
                return std::nullopt;
            parsed.offsetSeconds = offset;
            continue;
        }
        case 'M':
        case 'd':
        case 'H':
        case 'm':
        case 's':
            if (!readNumber(text, at, 1, 2, value))
                return std::nullopt;
            break;
        default:
            return std::nullopt;
        }
        switch (field.letter) {
        case 'M':
            parsed.month = int(value);
            break;
        case 'd':
            parsed.day = int(value);
            break;
        case 'H':
            parsed.hour = int(value);
            break;
        case 'm':
            parsed.minute = int(value);
            break;
        default:
            parsed.second = int(value);
            break;
        }
    }
    if (at != text.size() || parsed.month < 1 || parsed.month > 12 || parsed.day < 1
        || parsed.day > daysInMonth(parsed.year, parsed.month) || parsed.hour > 23
        || parsed.minute > 59 || parsed.second > 59)
        return std::nullopt;
    return parsed;
}

std::optional<TimePoint> toTimePoint(const Parsed &parsed)
{
    std::chrono::seconds sinceEpoch;
    if (parsed.offsetSeconds) {
        const long days = daysFromCivil(parsed.year, unsigned(parsed.month), unsigned(parsed.day));
        sinceEpoch = std::chrono::seconds(days * 86400 + parsed.hour * 3600 + parsed.minute * 60
                                          + parsed.second - *parsed.offsetSeconds);
    } else {
        std::tm local{};
        local.tm_year = int(parsed.year - 1900);
        local.tm_mon = parsed.month - 1;
        local.tm_mday = parsed.day;
        local.tm_hour = parsed.hour;
        local.tm_min = parsed.minute;
        local.tm_sec = parsed.second;
        local.tm_isdst = -1;
        const std::time_t time = std::mktime(&local);
        if (time == std::time_t(-1))
            return std::nullopt;
        sinceEpoch = std::chrono::seconds(time);
    }
    // Only years far beyond any calendar in use overflow the count of microseconds.
    const auto limit = std::chrono::duration_cast<std::chrono::seconds>(TimePoint::duration::max())
                       - std::chrono::seconds(1);
    if (sinceEpoch > limit || sinceEpoch < -limit)
        return std::nullopt;
    // Added in microseconds: in nanoseconds the sum would overflow again.
    return TimePoint(sinceEpoch)
           + std::chrono::duration_cast<TimePoint::duration>(
               std::chrono::nanoseconds(parsed.nanoseconds));
}

} // namespace

TimePoint now()
{
    return std::chrono::floor<TimePoint::duration>(std::chrono::system_clock::now());
}

std::optional<TimePoint> parseInternetDateTime(std::string_view text, bool fractionalSeconds)
{
    const auto parsed = parseFields(text,
                                    fractionalSeconds ? "yyyy-MM-dd'T'HH:mm:ss.SSSXXX"
                                                      : "yyyy-MM-dd'T'HH:mm:ssXXX");
    // RFC 3339 writes every field with its full width.
    if (!parsed || text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T'
        || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    return toTimePoint(*parsed);
}

std::optional<TimePoint> parse(std::string_view text, std::string_view pattern)
{
    const auto parsed = parseFields(text, pattern);
    if (!parsed)
        return std::nullopt;
    return toTimePoint(*parsed);
}

std::string format(TimePoint time, std::string_view pattern)
{
    const auto sinceEpoch = time.time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const long nanoseconds = long(
        std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count());
    const std::time_t whole = std::time_t(seconds.count());
    std::tm local{};
    localtime_r(&whole, &local);

    std::string text;
    char buffer[32];
    for (const Field &field : tokens(pattern)) {
        int value = 0;
        switch (field.letter) {
        case 0:
            text += field.literal;
            continue;
        case 'y': {
            const int year = local.tm_year + 1900;
            // A year before 1 keeps four digits after its sign, as ISO 8601 writes it ("-0001").
            if (field.count == 2)
                std::snprintf(buffer, sizeof buffer, "%02d", std::abs(year) % 100);
            else
                std::snprintf(buffer, sizeof buffer, "%0*d", year < 0 ? 5 : 4, year);
            text += buffer;
            continue;
        }
        case 'S':
            std::snprintf(buffer, sizeof buffer, "%09ld", nanoseconds);
            text += std::string(buffer).substr(0, std::size_t(std::min(field.count, 9)));
            continue;
        case 'X': {
            const long offset = local.tm_gmtoff;
            if (offset == 0) {
                text += 'Z';
                continue;
            }
            std::snprintf(buffer,
                          sizeof buffer,
                          "%c%02ld:%02ld",
                          offset < 0 ? '-' : '+',
                          std::labs(offset) / 3600,
                          std::labs(offset) % 3600 / 60);
            text += buffer;
            continue;
        }
        case 'M':
            value = local.tm_mon + 1;
            break;
        case 'd':
            value = local.tm_mday;
            break;
        case 'H':
            value = local.tm_hour;
            break;
        case 'm':
            value = local.tm_min;
            break;
        case 's':
            value = local.tm_sec;
            break;
        default:
            text += std::string(std::size_t(field.count), field.letter);
            continue;
        }
        std::snprintf(buffer, sizeof buffer, "%0*d", field.count, value);
        text += buffer;
    }
    return text;
}

std::optional<long> dayNumber(std::string_view date)
{
    const auto parsed = parseFields(date, "yyyy-MM-dd");
    if (!parsed)
        return std::nullopt;
    return daysFromCivil(parsed->year, unsigned(parsed->month), unsigned(parsed->day));
}

} // namespace Platform::DateFormat
