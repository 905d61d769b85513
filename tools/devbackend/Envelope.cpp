#include "Envelope.h"

namespace Dev {

Result success(nlohmann::json data)
{
    return {Success, std::move(data)};
}

Result failure(int code)
{
    return {code, nullptr};
}

std::string messageFor(int code)
{
    switch (code) {
    case Success:
        return "成功";
    case BadParameter:
        return "参数错误";
    case WrongCredentials:
        return "账号或密码错误";
    case AlreadyRegistered:
        return "该邮箱已注册";
    case BadEmailCode:
        return "验证码错误或已过期";
    case BadEmailAddress:
        return "邮箱格式不正确";
    case NoSuchAccount:
        return "账号不存在";
    case NoSuchSubscription:
        return "订阅不存在";
    case MembershipExpired:
        return "会员已过期";
    case TrafficUsedUp:
        return "流量已用完";
    case ServerError:
        return "服务器内部错误";
    case NotSignedIn:
        return "登录已失效，请重新登录";
    default:
        return "未知错误";
    }
}

std::string envelopeText(int code, std::string_view message, const nlohmann::json &data)
{
    return jsonText({{"code", code}, {"msg", message}, {"data", data}});
}

std::string envelopeText(const Result &result)
{
    return envelopeText(result.code, messageFor(result.code), result.data);
}

std::string jsonText(const nlohmann::json &value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace Dev
