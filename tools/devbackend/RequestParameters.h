#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>

namespace Dev {

using Parameters = std::map<std::string, std::string>;

// A POST body of the API: a JSON object of strings; anything else is nothing.
std::optional<Parameters> parametersOf(const std::string &body);

bool hasAll(const Parameters &parameters, std::initializer_list<const char *> names);

} // namespace Dev
