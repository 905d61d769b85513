#include "AFError.h"

AFError::AFError(Kind kind, Reason reason, std::string detail)
    : m_kind(kind)
    , m_reason(reason)
    , m_detail(std::move(detail))
{ }

AFError AFError::invalidURL(std::string url)
{
    return AFError(Kind::invalidURL, Reason::none, std::move(url));
}

AFError AFError::jsonEncodingFailed(std::string underlyingDescription)
{
    return AFError(Kind::parameterEncodingFailed,
                   Reason::jsonEncodingFailed,
                   std::move(underlyingDescription));
}

AFError AFError::inputDataNilOrZeroLength()
{
    return AFError(Kind::responseSerializationFailed, Reason::inputDataNilOrZeroLength, {});
}

AFError AFError::jsonSerializationFailed(std::string underlyingDescription)
{
    return AFError(Kind::responseSerializationFailed,
                   Reason::jsonSerializationFailed,
                   std::move(underlyingDescription));
}

std::string AFError::localizedDescription() const
{
    switch (m_reason) {
    case Reason::none:
        return "URL is not valid: " + m_detail;
    case Reason::jsonEncodingFailed:
        return "JSON could not be encoded because of error:\n" + m_detail;
    case Reason::inputDataNilOrZeroLength:
        return "Response could not be serialized, input data was nil or zero length.";
    case Reason::jsonSerializationFailed:
        return "JSON could not be serialized because of error:\n" + m_detail;
    }
    return {};
}

URLError::URLError(Code code, bool responseArrived)
    : m_code(code)
    , m_responseArrived(responseArrived)
{ }

std::string URLError::localizedDescription() const
{
    // What the user reads in a toast, in the language of the client's other texts.
    switch (m_code) {
    case Code::cannotFindHost:
        return "未能找到使用指定主机名的服务器。";
    case Code::cannotConnectToHost:
        return "未能连接到服务器。";
    case Code::timedOut:
        return "请求超时。";
    case Code::secureConnectionFailed:
        return "发生了SSL错误，无法建立与该服务器的安全连接。";
    case Code::networkConnectionLost:
        return "网络连接已中断。";
    case Code::notConnectedToInternet:
        return "似乎已断开与互联网的连接。";
    case Code::dataLengthExceedsMaximum:
        return "资源超出最大大小。";
    case Code::cannotDecodeContentData:
        return "无法解码原始数据。";
    case Code::unsupportedURL:
        return "不支持的URL。";
    case Code::cancelled:
        return "已取消。";
    case Code::unknown:
        break;
    }
    return "发生了未知错误。";
}

std::string localizedDescription(const ResponseError &error)
{
    return std::visit([](const auto &e) { return e.localizedDescription(); }, error);
}
