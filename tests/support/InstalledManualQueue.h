#pragma once

#include "platform/ManualMainQueue.h"

// A ManualMainQueue that is the process's main queue, and whose virtual clock drives the
// background timers, for as long as it lives.
class InstalledManualQueue final
{
public:
    InstalledManualQueue()
    {
        Platform::installMainQueue(&m_queue);
        Platform::installBackgroundQueue(&m_queue.backgroundQueue());
    }
    ~InstalledManualQueue()
    {
        Platform::installBackgroundQueue(nullptr);
        Platform::installMainQueue(nullptr);
    }

    InstalledManualQueue(const InstalledManualQueue &) = delete;
    InstalledManualQueue &operator=(const InstalledManualQueue &) = delete;

    Platform::ManualMainQueue *operator->() { return &m_queue; }
    Platform::ManualMainQueue &operator*() { return m_queue; }

private:
    Platform::ManualMainQueue m_queue;
};
