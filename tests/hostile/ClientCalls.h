#pragma once

#include "Endpoint.h"

#include "api/ConsoleRequests.h"
#include "api/SignInRequests.h"

#include "LogRecorder.h"
#include "RecordingConsoleScreen.h"
#include "platform/ManualMainQueue.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Makes the service's calls the way the client's screens do, and waits until each has finished:
// until its completion has run or, for the public settings, which have none, until the answer
// has been handled and the calls it starts have finished. What the caller heard comes back as
//   "succeeded", "failed:<what the caller was told>", "names:<list>" (the node lists), or
//   "ignored" (the answer was taken without a word: the public settings or a node list of
//   another shape).
class ClientCalls
{
public:
    ClientCalls(Platform::ManualMainQueue &queue,
                const LogRecorder &log,
                RecordingConsoleScreen &screen);

    // One call; fails the test when it does not finish within the cap.
    std::string run(Endpoint endpoint);

    // The calls at once, each with the report of its own in the same order.
    std::vector<std::string> runTogether(const std::vector<Endpoint> &endpoints);

    // A node list as the console asks for it, with no completion: until its answer has been
    // handled. "failed:<text>" when the console logged an error, "finished" otherwise.
    std::string runFromConsole(Endpoint endpoint);

    // How long a call may take before the test gives up on it: well above the request time-out.
    static constexpr double capSeconds = 60;

private:
    struct Call
    {
        Endpoint endpoint;
        std::size_t logBefore = 0;
        std::size_t screenBefore = 0;
        std::optional<std::string> report;
    };

    std::shared_ptr<Call> start(Endpoint endpoint);
    bool finished(Call &call) const;
    // How many answers to path have been handled since the log had the given number of lines.
    int handled(const std::string &path, std::size_t since) const;

    Platform::ManualMainQueue &m_queue;
    const LogRecorder &m_log;
    RecordingConsoleScreen &m_screen;
    ConsoleRequests m_console;
    std::vector<std::unique_ptr<SignInRequests>> m_signIns;
    std::shared_ptr<int> m_nodeListOwner = std::make_shared<int>(0);
};
