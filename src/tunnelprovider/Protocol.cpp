#include "Protocol.h"

#include "platform/Base64.h"

#include <optional>

namespace TunnelProvider {

namespace {

std::string line(const nlohmann::json &object)
{
    // Escaped strings never hold a raw newline, so the dump is one line.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<Request::Type> requestType(std::string_view name)
{
    if (name == "subscribe")
        return Request::Type::Subscribe;
    if (name == "status")
        return Request::Type::Status;
    if (name == "message")
        return Request::Type::Message;
    if (name == "stop")
        return Request::Type::Stop;
    return std::nullopt;
}

nlohmann::json statusObject(Status status, std::string_view reason)
{
    nlohmann::json object = {{"type", "status"}, {"status", int(status)}};
    if (status == Status::Disconnected && !reason.empty())
        object["reason"] = reason;
    return object;
}

} // namespace

std::variant<Request, RequestError> parseRequest(std::string_view text)
{
    const nlohmann::json object = nlohmann::json::parse(text, nullptr, false);
    if (object.is_discarded())
        return RequestError{nullptr, "not valid JSON"};
    if (!object.is_object())
        return RequestError{nullptr, "not a JSON object"};

    const auto id = object.find("id");
    if (id == object.end() || !id->is_number_integer())
        return RequestError{nullptr, "missing or non-integer id"};
    const auto type = object.find("type");
    if (type == object.end() || !type->is_string())
        return RequestError{*id, "missing or non-string type"};
    const std::string &typeName = type->get_ref<const std::string &>();
    const std::optional<Request::Type> known = requestType(typeName);
    if (!known)
        return RequestError{*id, "unknown request type \"" + typeName + "\""};

    Request request{*id, *known, {}};
    if (request.type == Request::Type::Message) {
        const auto data = object.find("data");
        if (data == object.end() || !data->is_string())
            return RequestError{*id, "message without string data"};
        std::optional<std::string> bytes = Platform::Base64::decode(
            data->get_ref<const std::string &>());
        if (!bytes)
            return RequestError{*id, "message data is not base64"};
        request.data = std::move(*bytes);
    }
    return request;
}

std::string statusReply(const nlohmann::json &id, Status status, std::string_view reason)
{
    nlohmann::json reply = statusObject(status, reason);
    reply["id"] = id;
    return line(reply);
}

std::string statusPush(Status status, std::string_view reason)
{
    return line(statusObject(status, reason));
}

std::string messageReply(const nlohmann::json &id, std::string_view bytes)
{
    nlohmann::json data = nullptr;
    if (!bytes.empty())
        data = Platform::Base64::encode(bytes);
    return line({{"id", id}, {"type", "reply"}, {"data", data}});
}

std::string stoppingReply(const nlohmann::json &id)
{
    return line({{"id", id}, {"type", "stopping"}});
}

std::string errorReply(const RequestError &error)
{
    return line({{"id", error.id}, {"type", "error"}, {"message", error.message}});
}

} // namespace TunnelProvider
