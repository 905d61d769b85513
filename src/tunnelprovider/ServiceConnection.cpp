#include "ServiceConnection.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace TunnelProvider {

std::filesystem::path ServiceConnection::defaultSocket()
{
    if (const char *path = std::getenv("ORVANE_TUNNEL_SERVICE_SOCKET"); path && *path)
        return path;
    return "/run/orvanevpn/tunnel.sock";
}

std::optional<std::string> ServiceConnection::connect(const std::filesystem::path &socket)
{
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.native().size() >= sizeof address.sun_path)
        return "the tunnel service's socket path is too long: " + socket.native();
    std::strcpy(address.sun_path, socket.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::string("cannot make a socket: ") + std::strerror(errno);
    // A Unix socket connects at once or not at all; EAGAIN means the service's backlog is full.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        switch (error) {
        case ENOENT:
        case ENOTDIR:
            return "隧道服务未安装或未启用（找不到 " + socket.native() + "）";
        case ECONNREFUSED:
            return "隧道服务未运行（" + socket.native() + " 无人应答）";
        case EACCES:
        case EPERM:
            return "没有使用隧道服务的权限（" + socket.native() + "）";
        default:
            return "无法连接隧道服务：" + std::string(std::strerror(error));
        }
    }
    m_lines = std::make_unique<LineConnection>(fd);
    return std::nullopt;
}

void ServiceConnection::request(nlohmann::json request, Handler answer)
{
    if (!isOpen())
        return;
    const long id = m_nextId++;
    request["id"] = id;
    m_pending[id] = std::move(answer);
    m_lines->send(request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void ServiceConnection::handleEvents(short events)
{
    if (!isOpen())
        return;
    if (events & POLLOUT)
        m_lines->flush();
    if (events & (POLLIN | POLLHUP | POLLERR)) {
        m_lines->receive();
        while (isOpen()) {
            const std::optional<std::string> line = m_lines->nextLine();
            if (!line)
                break;
            dispatch(*line);
        }
    }
    if (m_lines && !m_lines->isOpen()) {
        m_lines.reset();
        m_pending.clear();
        if (m_end)
            m_end();
    }
}

void ServiceConnection::close()
{
    m_lines.reset();
    m_pending.clear();
}

void ServiceConnection::dispatch(const std::string &line)
{
    const nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (!message.is_object())
        return;
    const auto id = message.find("id");
    if (id == message.end() || id->is_null()) {
        if (m_push && !message.contains("id"))
            m_push(message);
        return;
    }
    if (!id->is_number_integer())
        return;
    const auto pending = m_pending.find(id->get<long>());
    if (pending == m_pending.end())
        return;
    Handler handler = std::move(pending->second);
    m_pending.erase(pending);
    handler(message);
}

} // namespace TunnelProvider
