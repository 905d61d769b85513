#include "IpAddress.h"

#include <charconv>
#include <cstring>

#include <arpa/inet.h>

namespace TunnelService {

namespace {

std::optional<int> number(std::string_view text, int highest)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0
        || value > highest || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<IpPrefix> IpPrefix::parse(std::string_view text)
{
    const std::size_t slash = text.find('/');
    const std::string address(text.substr(0, slash));
    IpPrefix prefix;
    if (::inet_pton(AF_INET, address.c_str(), prefix.bytes.data()) == 1) {
        prefix.family = AF_INET;
    } else if (::inet_pton(AF_INET6, address.c_str(), prefix.bytes.data()) == 1) {
        prefix.family = AF_INET6;
    } else {
        return std::nullopt;
    }
    prefix.length = prefix.maximumLength();
    if (slash != std::string_view::npos) {
        const auto length = number(text.substr(slash + 1), prefix.maximumLength());
        if (!length)
            return std::nullopt;
        prefix.length = *length;
    }
    return prefix;
}

bool IpPrefix::isNetwork() const
{
    for (std::size_t bit = std::size_t(length); bit < byteCount() * 8; ++bit) {
        if (bytes[bit / 8] & (0x80 >> (bit % 8)))
            return false;
    }
    return true;
}

std::string IpPrefix::addressText() const
{
    char buffer[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family, bytes.data(), buffer, sizeof buffer);
    return buffer;
}

std::string IpPrefix::text() const
{
    return addressText() + "/" + std::to_string(length);
}

std::optional<Endpoint> Endpoint::parse(std::string_view text)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    if (bracketed)
        host = host.substr(1, host.size() - 2);
    const auto address = IpPrefix::parse(host);
    const auto port = number(text.substr(colon + 1), 65535);
    // An IPv6 address must be in brackets, and neither may carry a length.
    if (!address || !port || *port == 0 || host.find('/') != std::string_view::npos
        || bracketed != (address->family == AF_INET6))
        return std::nullopt;
    return Endpoint{*address, std::uint16_t(*port)};
}

std::string Endpoint::text() const
{
    const std::string host = address.addressText();
    return (address.family == AF_INET6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace TunnelService
