#include "DataResponse.h"

#include "LogRedaction.h"

#include <cstdio>

namespace {

// The description of a body that does not parse, as the user reads it.
constexpr const char unreadableJSON[] = "未能读取数据，因为它的格式不正确。";

// Thrown by the parser's callback to stop at a value nested too deep, before it is built.
struct NestedTooDeep
{ };

std::string seconds(DataResponse::Clock::duration duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4fs", std::chrono::duration<double>(duration).count());
    return text;
}

std::string headerLines(const HTTPHeaders &headers)
{
    std::string lines;
    for (const auto &[name, value] : LogRedaction::headers(headers))
        lines += "\n    " + name + ": " + value;
    return lines;
}

} // namespace

std::string DataResponse::debugDescription() const
{
    std::string text = "[Request]: " + methodName(request.method) + " " + request.url;
    text += "\n[Headers]:" + headerLines(request.headers);
    text += "\n[Body]: " + (request.body ? LogRedaction::body(*request.body) : std::string("None"));
    if (response) {
        text += "\n[Response]: " + std::to_string(response->statusCode);
        text += "\n[Headers]:" + headerLines(response->headers);
    } else {
        text += "\n[Response]: None";
    }
    text += "\n[Data]: " + (data ? std::to_string(data->size()) + " bytes" : std::string("None"));
    text += "\n[Network Duration]: " + seconds(timeline.requestCompleted - timeline.requestStart);
    text += "\n[Serialization Duration]: "
            + seconds(timeline.serializationCompleted - timeline.requestCompleted);
    if (const auto *json = value())
        text += "\n[Result]: success("
                + LogRedaction::json(*json).dump(-1,
                                                 ' ',
                                                 false,
                                                 nlohmann::json::error_handler_t::replace)
                + ")";
    else
        text += "\n[Result]: failure(" + localizedDescription(*error()) + ")";
    return text;
}

std::variant<nlohmann::json, ResponseError> DataResponse::serializeJSON(long statusCode,
                                                                        const std::string &body)
{
    if (statusCode == 204 || statusCode == 205)
        return nlohmann::json(nullptr);
    if (body.empty())
        return AFError::inputDataNilOrZeroLength();
    // The parser reports each array or object it opens with the number of those open around it.
    const auto limitDepth = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json &) {
        const bool opens = event == nlohmann::json::parse_event_t::object_start
                           || event == nlohmann::json::parse_event_t::array_start;
        if (opens && std::size_t(depth) >= maximumJSONDepth)
            throw NestedTooDeep();
        return true;
    };
    try {
        auto parsed = nlohmann::json::parse(body, limitDepth, false);
        if (!parsed.is_discarded())
            return parsed;
    } catch (const NestedTooDeep &) {
    }
    return AFError::jsonSerializationFailed(unreadableJSON);
}
