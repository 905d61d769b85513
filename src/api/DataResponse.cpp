#include "DataResponse.h"

#include "LogRedaction.h"

#include <cstdio>

namespace {

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
