#include "URLRequest.h"

#include <curl/curl.h>

std::string methodName(HTTPMethod method)
{
    switch (method) {
    case HTTPMethod::get:
        return "GET";
    case HTTPMethod::post:
        return "POST";
    case HTTPMethod::put:
        return "PUT";
    case HTTPMethod::patch:
        return "PATCH";
    case HTTPMethod::deleteMethod:
        return "DELETE";
    case HTTPMethod::head:
        return "HEAD";
    case HTTPMethod::options:
        return "OPTIONS";
    }
    return "GET";
}

bool isHttpURL(const std::string &text)
{
    CURLU *url = curl_url();
    bool valid = curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
    char *scheme = nullptr;
    char *host = nullptr;
    valid = valid && curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
            && curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host
            && (std::string(scheme) == "http" || std::string(scheme) == "https");
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(url);
    return valid;
}
