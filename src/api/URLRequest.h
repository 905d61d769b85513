#pragma once

#include <map>
#include <optional>
#include <string>
#include <strings.h>

enum class HTTPMethod { get, post, put, patch, deleteMethod, head, options };

std::string methodName(HTTPMethod method);

// Whether the text is an absolute http or https URL with a host.
bool isHttpURL(const std::string &text);

// Header names compare without regard to case; a map keeps the spelling first given.
struct CaseInsensitiveLess
{
    bool operator()(const std::string &a, const std::string &b) const
    {
        return ::strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};
using HTTPHeaders = std::map<std::string, std::string, CaseInsensitiveLess>;

// A request as it is sent.
struct URLRequest
{
    std::string url;
    HTTPMethod method = HTTPMethod::get;
    HTTPHeaders headers;
    std::optional<std::string> body;
};

// The head of an answer: its status and headers.
struct HTTPURLResponse
{
    std::string url;
    long statusCode = 0;
    HTTPHeaders headers;
};
