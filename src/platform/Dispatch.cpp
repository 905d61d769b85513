#include "Dispatch.h"

#include "ThreadBackgroundQueue.h"

#include <atomic>
#include <cstdio>

namespace Platform {

namespace {

std::atomic<MainQueue *> installedMainQueue{nullptr};
std::atomic<BackgroundQueue *> installedBackgroundQueue{nullptr};

// Stands in while no main queue is installed: before start-up and after shutdown, when a worker
// thread may still finish a late piece of work. That work has nobody left to run it.
class DiscardingMainQueue final : public MainQueue
{
public:
    void async(Task) override { warn(); }
    void after(double, Task) override { warn(); }
    bool isCurrentThread() const override { return false; }

private:
    void warn()
    {
        if (!m_warned.exchange(true))
            std::fputs("Platform: work handed to the main queue while none runs was dropped\n",
                       stderr);
    }

    std::atomic<bool> m_warned{false};
};

BackgroundQueue &defaultBackgroundQueue()
{
    static ThreadBackgroundQueue queue;
    return queue;
}

} // namespace

MainQueue &mainQueue()
{
    static DiscardingMainQueue discarding;
    MainQueue *queue = installedMainQueue.load();
    return queue ? *queue : discarding;
}

BackgroundQueue &backgroundQueue()
{
    BackgroundQueue *queue = installedBackgroundQueue.load();
    return queue ? *queue : defaultBackgroundQueue();
}

void installMainQueue(MainQueue *queue)
{
    installedMainQueue.store(queue);
}

void installBackgroundQueue(BackgroundQueue *queue)
{
    installedBackgroundQueue.store(queue);
}

} // namespace Platform
