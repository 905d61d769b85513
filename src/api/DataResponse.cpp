#include "DataResponse.h"

#include "LogRedaction.h"

#include <cstdio>

namespace {

// The description of a body that does not parse, as the user reads it.
constexpr const char unreadableJSON[] = "未能读取数据，因为它的格式不正确。";

// Reads a body without building it, and stops at the first error or at a value nested too deep.
class NestingCheck final : public nlohmann::json_sax<nlohmann::json>
{
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t &) override { return true; }
    bool string(string_t &) override { return true; }
    bool binary(binary_t &) override { return true; }
    bool start_object(std::size_t) override { return enter(); }
    bool key(string_t &) override { return true; }
    bool end_object() override { return leave(); }
    bool start_array(std::size_t) override { return enter(); }
    bool end_array() override { return leave(); }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override
    {
        return false;
    }

private:
    bool enter() { return ++m_depth <= DataResponse::maximumJSONDepth; }
    bool leave()
    {
        --m_depth;
        return true;
    }

    std::size_t m_depth = 0;
};

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
    NestingCheck check;
    if (!nlohmann::json::sax_parse(body, &check))
        return AFError::jsonSerializationFailed(unreadableJSON);
    // The same text has just been read without an error, so this parse succeeds.
    return nlohmann::json::parse(body);
}
