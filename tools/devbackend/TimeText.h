#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace Dev {

// The service speaks Beijing time: "2027-01-06T15:04:05+08:00".
std::string shanghaiTimestamp(std::time_t time);

// Reads "YYYY-MM-DDTHH:MM:SS" with optional fractional seconds and an optional "Z" or "+HH:MM"
// offset; without an offset the text is Beijing time.
std::optional<std::time_t> parseTimestamp(std::string_view text);

// A compact UTC stamp for file names: "20270106T070405Z".
std::string fileStamp(std::time_t time);

} // namespace Dev
