#include "ThreadBackgroundQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace Platform {

using Clock = std::chrono::steady_clock;

namespace {

Clock::duration toDuration(double seconds)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

struct Timer
{
    Task tick;
    Clock::duration interval;
    Clock::duration leeway;
    Clock::time_point due;
    bool cancelled = false;
};

} // namespace

// Shared by the queue, its worker and the timer handles, so that a handle may outlive the queue.
struct ThreadBackgroundQueue::State
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<Timer>> timers;
    std::shared_ptr<Timer> running;
    std::thread worker;
    bool stopping = false;

    void run();
    void cancel(const std::shared_ptr<Timer> &timer);
};

class ThreadBackgroundQueue::Handle final : public RepeatingTimer
{
public:
    Handle(std::weak_ptr<State> state, std::shared_ptr<Timer> timer)
        : m_state(std::move(state))
        , m_timer(std::move(timer))
    { }

    ~Handle() override { cancel(); }

    void cancel() override
    {
        if (auto state = m_state.lock())
            state->cancel(m_timer);
    }

private:
    std::weak_ptr<State> m_state;
    std::shared_ptr<Timer> m_timer;
};

void ThreadBackgroundQueue::State::run()
{
    std::unique_lock lock(mutex);
    while (!stopping) {
        if (timers.empty()) {
            changed.wait(lock);
            continue;
        }
        // Wake at the latest moment the most urgent timer allows, then serve every timer that is
        // due by then: several timers share one wake-up.
        Clock::time_point wake = Clock::time_point::max();
        for (const auto &timer : timers)
            wake = std::min(wake, timer->due + timer->leeway);
        if (Clock::now() < wake) {
            changed.wait_until(lock, wake);
            continue;
        }
        const Clock::time_point now = Clock::now();
        std::vector<std::shared_ptr<Timer>> due;
        for (const auto &timer : timers) {
            if (timer->due <= now)
                due.push_back(timer);
        }
        std::sort(due.begin(), due.end(), [](const auto &a, const auto &b) {
            return a->due < b->due;
        });
        for (const auto &timer : due) {
            if (timer->cancelled)
                continue;
            running = timer;
            lock.unlock();
            timer->tick();
            lock.lock();
            running.reset();
            changed.notify_all();
            // A late wake skips the ticks it missed instead of firing them in a burst.
            do {
                timer->due += timer->interval;
            } while (timer->due <= now);
        }
    }
}

void ThreadBackgroundQueue::State::cancel(const std::shared_ptr<Timer> &timer)
{
    std::unique_lock lock(mutex);
    timer->cancelled = true;
    std::erase(timers, timer);
    changed.notify_all();
    if (std::this_thread::get_id() != worker.get_id())
        changed.wait(lock, [&] { return running != timer; });
}

ThreadBackgroundQueue::ThreadBackgroundQueue()
    : m_state(std::make_shared<State>())
{ }

ThreadBackgroundQueue::~ThreadBackgroundQueue()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        m_state->changed.notify_all();
    }
    if (m_state->worker.joinable())
        m_state->worker.join();
}

std::unique_ptr<RepeatingTimer> ThreadBackgroundQueue::scheduleRepeating(double interval,
                                                                         double leeway,
                                                                         Task tick)
{
    auto timer = std::make_shared<Timer>();
    timer->tick = std::move(tick);
    timer->interval = toDuration(std::max(interval, 0.001));
    timer->leeway = toDuration(std::max(leeway, 0.0));
    timer->due = Clock::now();

    std::lock_guard lock(m_state->mutex);
    m_state->timers.push_back(timer);
    if (!m_state->worker.joinable())
        m_state->worker = std::thread([state = m_state.get()] { state->run(); });
    m_state->changed.notify_all();
    return std::make_unique<Handle>(m_state, timer);
}

} // namespace Platform
