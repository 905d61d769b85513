#include "NotificationCenter.h"

#include "Dispatch.h"

#include <atomic>

namespace Platform {

struct NotificationCenter::Registration
{
    const void *observer;
    std::string name;
    Delivery delivery;
    Handler handler;
    std::atomic<bool> active{true};
};

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(const void *observer,
                                     std::string name,
                                     Delivery delivery,
                                     Handler handler)
{
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->name = std::move(name);
    registration->delivery = delivery;
    registration->handler = std::move(handler);
    std::lock_guard lock(m_mutex);
    m_registrations.push_back(std::move(registration));
}

void NotificationCenter::removeObserver(const void *observer)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_registrations, [observer](const std::shared_ptr<Registration> &registration) {
        if (registration->observer != observer)
            return false;
        registration->active = false;
        return true;
    });
}

void NotificationCenter::post(const std::string &name, std::any object)
{
    std::vector<std::shared_ptr<Registration>> receivers;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &registration : m_registrations) {
            if (registration->name == name)
                receivers.push_back(registration);
        }
    }
    if (receivers.empty())
        return;

    const auto notification = std::make_shared<const Notification>(
        Notification{name, std::move(object)});
    for (const auto &registration : receivers) {
        const bool deliverNow = registration->delivery == Delivery::PostingThread
                                || mainQueue().isCurrentThread();
        if (deliverNow) {
            if (registration->active)
                registration->handler(*notification);
            continue;
        }
        std::weak_ptr<Registration> weak = registration;
        mainQueue().async([weak, notification] {
            if (auto registration = weak.lock(); registration && registration->active)
                registration->handler(*notification);
        });
    }
}

} // namespace Platform
