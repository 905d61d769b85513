#pragma once

#include "AFError.h"
#include "URLRequest.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <variant>

// A completed exchange: what was sent, what came back, and the parsed JSON or the failure.
struct DataResponse
{
    using Clock = std::chrono::steady_clock;

    struct Timeline
    {
        Clock::time_point requestStart;
        Clock::time_point requestCompleted;
        Clock::time_point serializationCompleted;
    };

    URLRequest request;
    std::optional<HTTPURLResponse> response;
    std::optional<std::string> data;
    std::variant<nlohmann::json, ResponseError> result;
    Timeline timeline;

    bool isSuccess() const { return std::holds_alternative<nlohmann::json>(result); }
    const nlohmann::json *value() const { return std::get_if<nlohmann::json>(&result); }
    const ResponseError *error() const { return std::get_if<ResponseError>(&result); }

    // Request, response, data size, result and timings, one per line, with every secret
    // redacted: fit for a log.
    std::string debugDescription() const;

    // How deep arrays and objects may nest in an answer. Answers are copied and logged by
    // recursion, so a deeper one could overflow the stack; no reply of the service comes near.
    static constexpr std::size_t maximumJSONDepth = 512;

    // The result of an answer that arrived whole: null for a 204 or 205, otherwise its body as
    // JSON with fragments allowed. A body that is empty, does not parse, or nests deeper than
    // maximumJSONDepth is a serialization failure.
    static std::variant<nlohmann::json, ResponseError> serializeJSON(long statusCode,
                                                                     const std::string &body);
};
