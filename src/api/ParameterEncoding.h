#pragma once

#include "AFError.h"
#include "URLRequest.h"

#include <nlohmann/json.hpp>

#include <optional>

// A JSON object of request parameters.
using Parameters = nlohmann::json;

// How parameters travel in a request.
class ParameterEncoding
{
public:
    virtual ~ParameterEncoding() = default;

    // Puts the parameters into the request; on failure the request must not be sent.
    virtual std::optional<AFError> encode(URLRequest &request,
                                          const std::optional<Parameters> &parameters) const = 0;
};

// The parameters as a JSON object body. Absent parameters leave the request untouched; a
// "Content-Type" the caller set is kept, otherwise it becomes "application/json".
class JSONEncoding final : public ParameterEncoding
{
public:
    static const JSONEncoding &defaultEncoding();

    std::optional<AFError> encode(URLRequest &request,
                                  const std::optional<Parameters> &parameters) const override;
};

// The parameters percent-encoded: in the query for GET, HEAD and DELETE, otherwise as a form
// body. Lists are written "key[]=v", dictionaries "key[member]=v", booleans 1 and 0.
class URLEncoding final : public ParameterEncoding
{
public:
    static const URLEncoding &defaultEncoding();

    std::optional<AFError> encode(URLRequest &request,
                                  const std::optional<Parameters> &parameters) const override;

    static std::string percentEncoded(const std::string &text);
};
