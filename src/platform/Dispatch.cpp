#include "Dispatch.h"

#include "ThreadBackgroundQueue.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace Platform {

namespace {

std::atomic<MainQueue *> installedMainQueue {nullptr};
std::atomic<BackgroundQueue *> installedBackgroundQueue {nullptr};

BackgroundQueue &defaultBackgroundQueue()
{
    static ThreadBackgroundQueue queue;
    return queue;
}

} // namespace

MainQueue &mainQueue()
{
    MainQueue *queue = installedMainQueue.load();
    if (!queue) {
        // Work handed to a main queue that does not exist would be lost silently.
        std::fputs("Platform::mainQueue(): no main queue installed\n", stderr);
        std::abort();
    }
    return *queue;
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
