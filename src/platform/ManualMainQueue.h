#pragma once

#include "Dispatch.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace Platform {

// The main queue of tests: nothing runs until the test pumps it, and time is virtual. One clock
// drives both the delayed work of the main queue and the timers of backgroundQueue(), whose ticks
// then run on the test's thread, in time order with everything else. Other threads may post work
// at any time; runUntil() waits for it.
class ManualMainQueue final : public MainQueue
{
public:
    ManualMainQueue();
    ~ManualMainQueue() override;

    ManualMainQueue(const ManualMainQueue &) = delete;
    ManualMainQueue &operator=(const ManualMainQueue &) = delete;

    void async(Task task) override;
    void after(double seconds, Task task) override;
    bool isCurrentThread() const override;

    // Background timers on this queue's virtual clock.
    BackgroundQueue &backgroundQueue();

    // Virtual seconds since the queue was made.
    double now() const;

    // Runs everything due now, including the work that work queues.
    void runUntilIdle();

    // Moves the clock forward, running each piece of delayed work at its own time.
    void advance(double seconds);

    // For tests that wait on real I/O: runs work as it arrives until the condition holds or
    // capSeconds of real time have passed; returns whether the condition holds. The virtual
    // clock does not move.
    bool runUntil(const std::function<bool()> &condition, double capSeconds = 10.0);

    // As runUntil, but the virtual clock follows real time meanwhile, so delayed work runs when
    // it would in the application: for measuring, and for tests whose timers race real I/O.
    bool runInRealTime(const std::function<bool()> &condition, double capSeconds = 10.0);

private:
    class VirtualBackgroundQueue;
    using Key = std::pair<double, std::uint64_t>; // due time, then order of scheduling

    bool runOneDue();

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Task> m_ready;
    std::map<Key, Task> m_delayed;
    std::uint64_t m_sequence = 0;
    double m_now = 0;
    const std::thread::id m_thread;
    std::unique_ptr<VirtualBackgroundQueue> m_background;
};

} // namespace Platform
