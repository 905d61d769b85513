#pragma once

#include "Dispatch.h"

#include <memory>

namespace Platform {

// The background queue of the application: one worker thread, started with the first timer,
// that runs the ticks of every repeating timer.
class ThreadBackgroundQueue final : public BackgroundQueue
{
public:
    ThreadBackgroundQueue();
    ~ThreadBackgroundQueue() override;

    ThreadBackgroundQueue(const ThreadBackgroundQueue &) = delete;
    ThreadBackgroundQueue &operator=(const ThreadBackgroundQueue &) = delete;

    std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                      double leeway,
                                                      Task tick) override;

private:
    struct State;
    class Handle;
    std::shared_ptr<State> m_state;
};

} // namespace Platform
