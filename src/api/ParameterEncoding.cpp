#include "ParameterEncoding.h"

#include <string_view>

namespace {

constexpr std::string_view typeErrorPrefix = "[json.exception.type_error.316] ";

void appendQueryPairs(std::string &query, const std::string &key, const nlohmann::json &value)
{
    if (value.is_object()) {
        for (const auto &[member, nested] : value.items())
            appendQueryPairs(query, key + "[" + member + "]", nested);
        return;
    }
    if (value.is_array()) {
        for (const auto &element : value)
            appendQueryPairs(query, key + "[]", element);
        return;
    }
    std::string text;
    if (value.is_string())
        text = value.get<std::string>();
    else if (value.is_boolean())
        text = value.get<bool>() ? "1" : "0";
    else if (!value.is_null())
        text = value.dump();
    if (!query.empty())
        query += '&';
    query += URLEncoding::percentEncoded(key) + "=" + URLEncoding::percentEncoded(text);
}

} // namespace

const JSONEncoding &JSONEncoding::defaultEncoding()
{
    static const JSONEncoding encoding;
    return encoding;
}

std::optional<AFError> JSONEncoding::encode(URLRequest &request,
                                            const std::optional<Parameters> &parameters) const
{
    if (!parameters)
        return std::nullopt;
    try {
        request.body = parameters->dump();
    } catch (const nlohmann::json::exception &error) {
        std::string_view reason = error.what();
        if (reason.starts_with(typeErrorPrefix))
            reason.remove_prefix(typeErrorPrefix.size());
        return AFError::jsonEncodingFailed(std::string(reason));
    }
    request.headers.emplace("Content-Type", "application/json");
    return std::nullopt;
}

const URLEncoding &URLEncoding::defaultEncoding()
{
    static const URLEncoding encoding;
    return encoding;
}

std::optional<AFError> URLEncoding::encode(URLRequest &request,
                                           const std::optional<Parameters> &parameters) const
{
    if (!parameters || !parameters->is_object() || parameters->empty())
        return std::nullopt;
    std::string query;
    for (const auto &[key, value] : parameters->items())
        appendQueryPairs(query, key, value);

    const bool inQuery = request.method == HTTPMethod::get || request.method == HTTPMethod::head
                         || request.method == HTTPMethod::deleteMethod;
    if (inQuery) {
        request.url += (request.url.find('?') == std::string::npos ? "?" : "&") + query;
        return std::nullopt;
    }
    request.body = query;
    request.headers.emplace("Content-Type", "application/x-www-form-urlencoded; charset=utf-8");
    return std::nullopt;
}

std::string URLEncoding::percentEncoded(const std::string &text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')
                                || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_'
                                || c == '~';
        if (unreserved) {
            encoded += char(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0xf];
        }
    }
    return encoded;
}
