#pragma once

#include "LoopbackServer.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

// A loopback server that answers each of the service's paths the way a test arranges, and any
// other path with the service's "not found" envelope. It counts what it is asked, by path.
class HostileServer
{
public:
    using Responder = std::function<void(const httplib::Request &, httplib::Response &)>;

    HostileServer();

    std::string origin() const { return m_server.origin(); }

    // Answers every request for path (without its query) from now on.
    void answer(const std::string &path, Responder responder);
    // Answers with status 200 and body as JSON, whatever the bytes of body are.
    void answer(const std::string &path, std::string body);
    // Forgets every arrangement.
    void clear();

    int requests(const std::string &path) const;
    int requests() const;

private:
    void respond(const httplib::Request &request, httplib::Response &response);

    mutable std::mutex m_mutex;
    std::map<std::string, Responder> m_responders;
    std::map<std::string, int> m_requests;
    LoopbackServer m_server; // last, so that it stops before the rest goes
};
