#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace TunnelProvider {

// One piece of slow work (a network request) on a thread of its own, so the event loop stays
// free. The loop polls fd(), which becomes readable once the work has ended; whatever the work
// produces it leaves where its owner will look after finish().
class BackgroundJob
{
public:
    using Work = std::function<void(const std::atomic<bool> &cancelled)>;

    BackgroundJob();
    // Cancels the work and waits for it.
    ~BackgroundJob();

    BackgroundJob(const BackgroundJob &) = delete;
    BackgroundJob &operator=(const BackgroundJob &) = delete;

    // Runs the work; a job that is still running is cancelled and waited for first.
    void start(Work work);
    bool isRunning() const { return m_thread.joinable(); }
    int fd() const { return m_event; }

    // Waits for work that has ended (fd() was readable); true when it had ended.
    bool finish();
    // Asks the work to give up soon; it checks the flag while it waits.
    void cancel() { m_cancelled = true; }

private:
    void join();

    int m_event = -1;
    std::atomic<bool> m_cancelled = false;
    std::thread m_thread;
};

} // namespace TunnelProvider
