#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

// A value of the preference stores: string, integer, real, boolean, list, dictionary, or raw
// bytes (a binary value). Integers and reals stay apart, as do booleans and numbers.
using PropertyValue = nlohmann::json;
using Data = std::vector<std::uint8_t>;

// How values are written in preference files: JSON, with raw bytes as {"$data": "<base64>"}.
namespace PropertyFile {

nlohmann::json encode(const PropertyValue &value);
PropertyValue decode(const nlohmann::json &stored);

} // namespace PropertyFile

// The text of an object's member; nothing when there is no such member or it is not a text.
std::optional<std::string> stringMember(const nlohmann::json &object, const char *key);

} // namespace Platform
