#pragma once

#include <string>
#include <variant>

// The request layer's own errors.
class AFError
{
public:
    enum class Kind { invalidURL, parameterEncodingFailed, responseSerializationFailed };
    enum class Reason {
        none,
        jsonEncodingFailed,
        inputDataNilOrZeroLength,
        jsonSerializationFailed
    };

    static AFError invalidURL(std::string url);
    static AFError jsonEncodingFailed(std::string underlyingDescription);
    static AFError inputDataNilOrZeroLength();
    static AFError jsonSerializationFailed(std::string underlyingDescription);

    Kind kind() const { return m_kind; }
    Reason reason() const { return m_reason; }
    std::string localizedDescription() const;

private:
    AFError(Kind kind, Reason reason, std::string detail);

    Kind m_kind;
    Reason m_reason;
    std::string m_detail; // the URL text, or the underlying error's description
};

// A failure of the transport itself: no connection, a time-out, TLS, a connection lost.
class URLError
{
public:
    enum class Code {
        cannotFindHost,
        cannotConnectToHost,
        timedOut,
        secureConnectionFailed,
        networkConnectionLost,
        notConnectedToInternet,
        dataLengthExceedsMaximum,
        cannotDecodeContentData,
        unsupportedURL,
        cancelled,
        unknown,
    };

    // responseArrived: whether the server's status line had come when the failure happened.
    URLError(Code code, bool responseArrived);

    Code code() const { return m_code; }
    bool responseArrived() const { return m_responseArrived; }
    std::string localizedDescription() const;

private:
    Code m_code;
    bool m_responseArrived;
};

using ResponseError = std::variant<AFError, URLError>;

std::string localizedDescription(const ResponseError &error);
