#include "platform/NotificationCenter.h"

#include "InstalledManualQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using Platform::Notification;
using Platform::NotificationCenter;
using Delivery = Platform::NotificationCenter::Delivery;

TEST(NotificationCenter, DeliversByNameWithTheObject)
{
    InstalledManualQueue queue;
    NotificationCenter center;
    int observer = 0;
    std::vector<std::string> received;
    center.addObserver(&observer, "A", Delivery::PostingThread, [&](const Notification &note) {
        received.push_back(note.name + ":" + std::any_cast<std::string>(note.object));
    });
    center.addObserver(&observer, "B", Delivery::MainQueue, [&](const Notification &note) {
        received.push_back(note.name + (note.object.has_value() ? ":object" : ":none"));
    });

    center.post("A", std::string("text"));
    center.post("B"); // posted on the main queue's thread: delivered at once
    center.post("C", std::string("nobody listens"));
    EXPECT_EQ(received, (std::vector<std::string>{"A:text", "B:none"}));
}

TEST(NotificationCenter, MainQueueDeliveryFromAnotherThreadWaitsForTheQueue)
{
    InstalledManualQueue queue;
    NotificationCenter center;
    int observer = 0;
    auto connection = std::make_shared<int>(3);
    std::thread::id deliveredOn;
    int status = 0;
    center.addObserver(&observer, "status", Delivery::MainQueue, [&](const Notification &note) {
        deliveredOn = std::this_thread::get_id();
        status = *std::any_cast<std::shared_ptr<int>>(note.object);
    });

    std::thread poster([&] { center.post("status", connection); });
    poster.join();
    EXPECT_EQ(status, 0);

    queue->runUntilIdle();
    EXPECT_EQ(status, 3);
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST(NotificationCenter, RemovingAnObserverRemovesAllItsRegistrationsOnly)
{
    InstalledManualQueue queue;
    NotificationCenter center;
    int leaving = 0;
    int staying = 0;
    std::vector<std::string> received;
    const auto record = [&](std::string who) {
        return [&, who](const Notification &note) {
            received.push_back(who + note.name);
        };
    };
    center.addObserver(&leaving, "A", Delivery::PostingThread, record("leaving:"));
    center.addObserver(&leaving, "B", Delivery::MainQueue, record("leaving:"));
    center.addObserver(&staying, "A", Delivery::PostingThread, record("staying:"));

    // A delivery queued before the removal is dropped as well.
    std::thread poster([&] { center.post("B"); });
    poster.join();
    center.removeObserver(&leaving);
    center.post("A");
    center.post("B");
    queue->runUntilIdle();
    EXPECT_EQ(received, (std::vector<std::string>{"staying:A"}));
}

TEST(NotificationCenter, AnObserverRemovedDuringDeliveryGetsNoMore)
{
    InstalledManualQueue queue;
    NotificationCenter center;
    int observer = 0;
    int calls = 0;
    center.addObserver(&observer, "A", Delivery::PostingThread, [&](const Notification &) {
        ++calls;
        center.removeObserver(&observer);
    });
    center.addObserver(&observer, "A", Delivery::PostingThread, [&](const Notification &) {
        ++calls;
    });

    center.post("A");
    center.post("A");
    EXPECT_EQ(calls, 1);
}
