#include "platform/ManualMainQueue.h"
#include "platform/ThreadBackgroundQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using Platform::ManualMainQueue;

TEST(ManualMainQueue, RunsWorkInOrderOnlyWhenPumped)
{
    ManualMainQueue queue;
    std::vector<std::string> ran;
    queue.async([&] {
        ran.push_back("a");
        queue.async([&] { ran.push_back("queued by a"); });
    });
    queue.async([&] { ran.push_back("b"); });
    EXPECT_TRUE(ran.empty());

    queue.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "queued by a"}));
    EXPECT_TRUE(queue.isCurrentThread());
}

TEST(ManualMainQueue, DelayedWorkRunsAtItsVirtualTime)
{
    ManualMainQueue queue;
    std::vector<std::pair<std::string, double>> ran;
    const auto record = [&](std::string name) {
        return [&, name] {
            ran.emplace_back(name, queue.now());
        };
    };
    queue.after(0.5, [&] {
        ran.emplace_back("x", queue.now());
        queue.after(0.3, record("queued by x"));
    });
    queue.after(0.2, record("y"));
    queue.after(0.5, record("z"));
    queue.after(0, record("now"));

    queue.runUntilIdle();
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran[0].first, "now");

    queue.advance(0.1);
    EXPECT_EQ(ran.size(), 1u);
    queue.advance(0.1);
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_EQ(ran[1], std::make_pair(std::string("y"), 0.2));

    queue.advance(1.0);
    ASSERT_EQ(ran.size(), 5u);
    EXPECT_EQ(ran[2], std::make_pair(std::string("x"), 0.5));
    EXPECT_EQ(ran[3], std::make_pair(std::string("z"), 0.5));
    EXPECT_EQ(ran[4].first, "queued by x");
    EXPECT_DOUBLE_EQ(ran[4].second, 0.8);
    EXPECT_DOUBLE_EQ(queue.now(), 1.2);
}

TEST(ManualMainQueue, DrivesBackgroundTimersOnTheSameClock)
{
    ManualMainQueue queue;
    std::vector<double> ticks;
    auto timer = queue.backgroundQueue().scheduleRepeating(1.0, 0.1, [&] {
        ticks.push_back(queue.now());
    });

    queue.runUntilIdle();
    EXPECT_EQ(ticks, (std::vector<double>{0.0})); // the first tick comes at once

    queue.advance(2.5);
    EXPECT_EQ(ticks, (std::vector<double>{0.0, 1.0, 2.0}));

    timer->cancel();
    queue.advance(5);
    EXPECT_EQ(ticks.size(), 3u);

    // A countdown that stops itself from its own tick.
    int left = 3;
    std::unique_ptr<Platform::RepeatingTimer> countdown;
    countdown = queue.backgroundQueue().scheduleRepeating(1.0, 0, [&] {
        if (--left == 0)
            countdown->cancel();
    });
    queue.advance(10);
    EXPECT_EQ(left, 0);
}

TEST(ManualMainQueue, RunUntilWaitsForWorkFromOtherThreads)
{
    ManualMainQueue queue;
    bool delivered = false;
    std::thread worker([&] { queue.async([&] { delivered = true; }); });
    EXPECT_TRUE(queue.runUntil([&] { return delivered; }));
    worker.join();

    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.05));
    EXPECT_DOUBLE_EQ(queue.now(), 0.0);
}

// Delayed work comes due as real time passes, before the cap, and the clock has kept up with it.
TEST(ManualMainQueue, RunInRealTimeRunsDelayedWorkWhenItIsDue)
{
    ManualMainQueue queue;
    bool ran = false;
    queue.after(0.05, [&] { ran = true; });
    EXPECT_TRUE(queue.runInRealTime([&] { return ran; }, 10));
    EXPECT_GE(queue.now(), 0.05);
    EXPECT_LT(queue.now(), 10);
    EXPECT_FALSE(queue.runInRealTime([] { return false; }, 0.02));
}

TEST(ThreadBackgroundQueue, TicksRepeatOffTheMainThreadAndStopWithCancel)
{
    ManualMainQueue main;
    Platform::ThreadBackgroundQueue background;
    std::atomic<int> ticksOfFirst = 0;
    std::atomic<int> ticksOfSecond = 0;
    std::atomic<bool> tickedOnMainThread = false;

    auto first = background.scheduleRepeating(0.005, 0, [&] {
        tickedOnMainThread = tickedOnMainThread || main.isCurrentThread();
        if (++ticksOfFirst >= 2)
            main.async([] {});
    });
    ASSERT_TRUE(main.runUntil([&] { return ticksOfFirst >= 2; }));
    EXPECT_FALSE(tickedOnMainThread);

    first->cancel();
    const int afterCancel = ticksOfFirst;

    // Once a second timer has ticked a few times, the worker has passed the first timer's next
    // due times: had it kept running, it would have ticked by now.
    auto second = background.scheduleRepeating(0.005, 0, [&] {
        ++ticksOfSecond;
        main.async([] {});
    });
    ASSERT_TRUE(main.runUntil([&] { return ticksOfSecond >= 4; }));
    EXPECT_EQ(ticksOfFirst, afterCancel);

    second.reset(); // destroying the handle cancels too
    const int afterReset = ticksOfSecond;
    std::atomic<int> thirdTicks = 0;
    auto third = background.scheduleRepeating(0.005, 0, [&] {
        ++thirdTicks;
        main.async([] {});
    });
    ASSERT_TRUE(main.runUntil([&] { return thirdTicks >= 3; }));
    EXPECT_EQ(ticksOfSecond, afterReset);
}
