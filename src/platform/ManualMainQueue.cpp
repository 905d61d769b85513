#include "ManualMainQueue.h"

#include <algorithm>
#include <chrono>

namespace Platform {

namespace {

// A repeating timer on the virtual clock; each tick schedules the next while the timer lives.
class VirtualTimer final : public RepeatingTimer
{
public:
    struct Schedule
    {
        Task tick;
        double interval;
        bool cancelled = false;
    };

    explicit VirtualTimer(std::shared_ptr<Schedule> schedule)
        : m_schedule(std::move(schedule))
    { }
    ~VirtualTimer() override { cancel(); }

    void cancel() override { m_schedule->cancelled = true; }

private:
    std::shared_ptr<Schedule> m_schedule;
};

} // namespace

class ManualMainQueue::VirtualBackgroundQueue final : public BackgroundQueue
{
public:
    explicit VirtualBackgroundQueue(ManualMainQueue &clock)
        : m_clock(clock)
    { }

    std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                      double /*leeway*/,
                                                      Task tick) override
    {
        auto schedule = std::make_shared<VirtualTimer::Schedule>();
        schedule->tick = std::move(tick);
        schedule->interval = std::max(interval, 0.001);
        fire(schedule, 0);
        return std::make_unique<VirtualTimer>(schedule);
    }

private:
    void fire(const std::shared_ptr<VirtualTimer::Schedule> &schedule, double delay)
    {
        m_clock.after(delay, [this, schedule] {
            if (schedule->cancelled)
                return;
            schedule->tick();
            if (!schedule->cancelled)
                fire(schedule, schedule->interval);
        });
    }

    ManualMainQueue &m_clock;
};

ManualMainQueue::ManualMainQueue()
    : m_thread(std::this_thread::get_id())
    , m_background(std::make_unique<VirtualBackgroundQueue>(*this))
{ }

ManualMainQueue::~ManualMainQueue() = default;

void ManualMainQueue::async(Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_ready.push_back(std::move(task));
    }
    m_arrived.notify_all(); // outside the lock, so the waiter need not wait for it again
}

void ManualMainQueue::after(double seconds, Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_delayed.emplace(Key{m_now + std::max(seconds, 0.0), m_sequence++}, std::move(task));
    }
    m_arrived.notify_all();
}

bool ManualMainQueue::isCurrentThread() const
{
    return std::this_thread::get_id() == m_thread;
}

BackgroundQueue &ManualMainQueue::backgroundQueue()
{
    return *m_background;
}

double ManualMainQueue::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

bool ManualMainQueue::runOneDue()
{
    Task task;
    {
        std::lock_guard lock(m_mutex);
        if (!m_ready.empty()) {
            task = std::move(m_ready.front());
            m_ready.pop_front();
        } else if (!m_delayed.empty() && m_delayed.begin()->first.first <= m_now) {
            task = std::move(m_delayed.begin()->second);
            m_delayed.erase(m_delayed.begin());
        } else {
            return false;
        }
    }
    task();
    return true;
}

void ManualMainQueue::runUntilIdle()
{
    while (runOneDue()) {
    }
}

void ManualMainQueue::advance(double seconds)
{
    const double target = now() + std::max(seconds, 0.0);
    for (;;) {
        runUntilIdle();
        std::lock_guard lock(m_mutex);
        if (m_delayed.empty() || m_delayed.begin()->first.first > target) {
            m_now = target;
            break;
        }
        m_now = m_delayed.begin()->first.first;
    }
    runUntilIdle();
}

bool ManualMainQueue::runUntil(const std::function<bool()> &condition, double capSeconds)
{
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(capSeconds));
    for (;;) {
        runUntilIdle();
        if (condition())
            return true;
        std::unique_lock lock(m_mutex);
        const bool arrived = m_arrived.wait_until(lock, deadline, [this] {
            return !m_ready.empty()
                   || (!m_delayed.empty() && m_delayed.begin()->first.first <= m_now);
        });
        if (!arrived) {
            lock.unlock();
            return condition();
        }
    }
}

bool ManualMainQueue::runInRealTime(const std::function<bool()> &condition, double capSeconds)
{
    using Clock = std::chrono::steady_clock;
    const auto toClock = [](double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    };
    const auto start = Clock::now();
    const auto deadline = start + toClock(capSeconds);
    const double origin = now();
    const auto virtualNow = [&] {
        return origin + std::chrono::duration<double>(Clock::now() - start).count();
    };
    for (;;) {
        advance(virtualNow() - now());
        if (condition())
            return true;
        std::unique_lock lock(m_mutex);
        auto wake = deadline;
        if (!m_delayed.empty())
            wake = std::min(wake, start + toClock(m_delayed.begin()->first.first - origin));
        m_arrived.wait_until(lock, wake, [this] { return !m_ready.empty(); });
        if (Clock::now() >= deadline) {
            lock.unlock();
            advance(virtualNow() - now());
            return condition();
        }
    }
}

} // namespace Platform
