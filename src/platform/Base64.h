#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Platform::Base64 {

// Standard alphabet with "=" padding, as message bytes travel in the protocol.
std::string encode(std::string_view bytes);

// Nothing when the text is not padded standard base64.
std::optional<std::string> decode(std::string_view text);

} // namespace Platform::Base64
