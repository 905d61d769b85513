#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <variant>

namespace TunnelProvider {

enum class Status : int {
    Invalid = 0,
    Disconnected = 1,
    Connecting = 2,
    Connected = 3,
    Reasserting = 4,
    Disconnecting = 5,
};

// One request line from a client, already checked.
struct Request
{
    enum class Type { Subscribe, Status, Message, Stop };

    nlohmann::json id; // an integer, echoed as received
    Type type = Type::Status;
    std::string data; // the decoded message bytes
};

// A line that is not a request: what to answer. The id is null when the line had none.
struct RequestError
{
    nlohmann::json id;
    std::string message;
};

std::variant<Request, RequestError> parseRequest(std::string_view line);

// The lines that go back, without their newline.
// A reason (why the tunnel is down) goes with Disconnected only, and only when there is one.
std::string statusReply(const nlohmann::json &id, Status status, std::string_view reason = {});
std::string statusPush(Status status, std::string_view reason = {});
std::string messageReply(const nlohmann::json &id, std::string_view bytes);
std::string stoppingReply(const nlohmann::json &id);
std::string errorReply(const RequestError &error);

} // namespace TunnelProvider
