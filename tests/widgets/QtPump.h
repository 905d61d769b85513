#pragma once

#include "platform/ManualMainQueue.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>

// Runs both the test's main queue and Qt's events until the condition holds or the real-time cap
// passes; for outcomes that need real I/O (network, processes) as well as Qt's own events. With
// clockFollowsRealTime, delayed work of the queue runs when it would in the application.
inline bool pumpUntil(Platform::ManualMainQueue &queue,
                      const std::function<bool()> &condition,
                      double capSeconds = 20,
                      bool clockFollowsRealTime = false)
{
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::milliseconds(int(capSeconds * 1000));
    for (;;) {
        queue.runUntilIdle();
        QCoreApplication::processEvents();
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (clockFollowsRealTime)
            queue.runInRealTime(condition, 0.01);
        else
            queue.runUntil(condition, 0.01);
    }
}
