#pragma once

#include <functional>
#include <memory>

namespace Platform {

using Task = std::function<void()>;

// The queue of the main thread. User-interface, settings and store work runs here; other threads
// hand their results over with async(). Both calls may be made from any thread.
class MainQueue
{
public:
    virtual ~MainQueue() = default;

    virtual void async(Task task) = 0;
    virtual void after(double seconds, Task task) = 0;

    // True on the thread that runs this queue's work.
    virtual bool isCurrentThread() const = 0;
};

// A repeating timer of the background queue. Cancelling it (or destroying the handle) stops
// further ticks; a tick already running on another thread is waited for, so nothing of the timer
// runs once cancel() has returned.
class RepeatingTimer
{
public:
    virtual ~RepeatingTimer() = default;

    virtual void cancel() = 0;
};

// The shared background queue, whose timers tick off the main thread.
class BackgroundQueue
{
public:
    virtual ~BackgroundQueue() = default;

    // The first tick comes at once, then one every interval seconds; a tick may come up to
    // leeway seconds late, which lets the queue wake once for several timers.
    virtual std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                              double leeway,
                                                              Task tick)
        = 0;
};

// The queues of this process. The application installs its event-loop backend at start-up and
// tests install a ManualMainQueue; installing nullptr removes the backend. While none is
// installed, work handed to the main queue is dropped (with one warning on stderr). Without an
// installed background queue, a worker thread of our own serves as one.
MainQueue &mainQueue();
BackgroundQueue &backgroundQueue();
void installMainQueue(MainQueue *queue);
void installBackgroundQueue(BackgroundQueue *queue);

} // namespace Platform
