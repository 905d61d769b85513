#pragma once

#include <any>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Platform {

struct Notification
{
    std::string name;
    std::any object; // what the poster attached, or empty
};

// Named notifications inside the process. Observers are identified by an address of their own
// choosing (usually `this`); removing an observer removes every one of its registrations, and a
// registration removed before its delivery ran is not delivered. Thread-safe.
class NotificationCenter
{
public:
    using Handler = std::function<void(const Notification &)>;

    enum class Delivery {
        PostingThread, // synchronously, inside post()
        MainQueue,     // on the main queue: inside post() when posted there, else queued to it
    };

    NotificationCenter();
    ~NotificationCenter();

    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    // The centre the whole application shares.
    static NotificationCenter &defaultCenter();

    void addObserver(const void *observer, std::string name, Delivery delivery, Handler handler);
    void removeObserver(const void *observer);
    void post(const std::string &name, std::any object = {});

private:
    struct Registration;

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Registration>> m_registrations;
};

} // namespace Platform
