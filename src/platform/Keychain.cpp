#include "Keychain.h"

#include "Log.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace Platform::Keychain {

namespace {

constexpr const char logCategory[] = "Keychain";

const SecretSchema &genericPasswordSchema()
{
    static const SecretSchema schema = {"com.qaromac.wv.GenericPassword",
                                        SECRET_SCHEMA_NONE,
                                        {{"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return schema;
}

struct GObjectDeleter
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template<typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct HashTableDeleter
{
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
};
struct SecretValueDeleter
{
    void operator()(SecretValue *value) const { secret_value_unref(value); }
};
struct ItemListDeleter
{
    void operator()(GList *items) const { g_list_free_full(items, g_object_unref); }
};

// Cancels the call in progress once the time is up, unless the call finished first.
class Deadline
{
public:
    explicit Deadline(GCancellable *cancellable)
        : m_thread([this, cancellable] {
            std::unique_lock lock(m_mutex);
            const auto limit = std::chrono::duration<double>(timeoutSeconds);
            if (!m_finished.wait_for(lock, limit, [this] { return m_done; }))
                g_cancellable_cancel(cancellable);
        })
    { }

    ~Deadline()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_finished.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
    std::thread m_thread; // last: starts once the members above exist
};

// One call to the Secret Service, bounded by the deadline.
class Call
{
public:
    Call()
        : m_cancellable(g_cancellable_new())
        , m_deadline(m_cancellable.get())
    { }

    GCancellable *cancellable() const { return m_cancellable.get(); }

    // Whether any step of this call failed or ran out of time.
    bool failed() const { return m_failed; }

    // The service, or nothing when there is no session bus or no service answers.
    SecretService *service()
    {
        // GDBus would launch a bus of its own when none is given; that bus would outlive us.
        const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!address || !*address)
            return nullptr;
        GError *error = nullptr;
        m_service.reset(secret_service_get_sync(SECRET_SERVICE_NONE, cancellable(), &error));
        report(error);
        return m_service.get();
    }

    // Items matching the account, locked ones without their secret.
    std::unique_ptr<GList, ItemListDeleter> search(const std::string &account,
                                                   SecretSearchFlags flags)
    {
        std::unique_ptr<GHashTable, HashTableDeleter> attributes(
            secret_attributes_build(&genericPasswordSchema(), "account", account.c_str(), nullptr));
        GError *error = nullptr;
        std::unique_ptr<GList, ItemListDeleter> items(
            secret_service_search_sync(m_service.get(),
                                       &genericPasswordSchema(),
                                       attributes.get(),
                                       flags,
                                       cancellable(),
                                       &error));
        report(error);
        return items;
    }

    bool canStoreWithoutPrompt()
    {
        // Storing into a locked or missing default keyring would ask the user for a password.
        GError *error = nullptr;
        GObjectPtr<SecretCollection> collection(
            secret_collection_for_alias_sync(m_service.get(),
                                             SECRET_COLLECTION_DEFAULT,
                                             SECRET_COLLECTION_NONE,
                                             cancellable(),
                                             &error));
        report(error);
        return collection && !secret_collection_get_locked(collection.get());
    }

    bool store(const std::string &account, std::string_view data)
    {
        std::unique_ptr<GHashTable, HashTableDeleter> attributes(
            secret_attributes_build(&genericPasswordSchema(), "account", account.c_str(), nullptr));
        std::unique_ptr<SecretValue, SecretValueDeleter> value(
            secret_value_new(data.data(), gssize(data.size()), "application/octet-stream"));
        const std::string label = "OrvaneVPN: " + account;
        GError *error = nullptr;
        const bool stored = secret_service_store_sync(m_service.get(),
                                                      &genericPasswordSchema(),
                                                      attributes.get(),
                                                      SECRET_COLLECTION_DEFAULT,
                                                      label.c_str(),
                                                      value.get(),
                                                      cancellable(),
                                                      &error);
        report(error);
        return stored;
    }

private:
    void report(GError *error)
    {
        if (!error)
            return;
        m_failed = true;
        Log::system(LogLevel::Info, logCategory, std::string("Secret Service: ") + error->message);
        g_error_free(error);
    }

    GObjectPtr<GCancellable> m_cancellable;
    GObjectPtr<SecretService> m_service;
    bool m_failed = false;
    Deadline m_deadline; // last: joins its thread before the cancellable goes
};

} // namespace

bool addGenericPassword(const std::string &account, std::string_view data)
{
    Call call;
    if (!call.service())
        return false;
    if (call.search(account, SECRET_SEARCH_NONE) || call.failed())
        return false;
    if (!call.canStoreWithoutPrompt())
        return false;
    return call.store(account, data);
}

std::optional<std::string> findGenericPassword(const std::string &account)
{
    Call call;
    if (!call.service())
        return std::nullopt;
    const auto items = call.search(account, SECRET_SEARCH_LOAD_SECRETS);
    if (!items)
        return std::nullopt;
    std::unique_ptr<SecretValue, SecretValueDeleter> secret(
        secret_item_get_secret(static_cast<SecretItem *>(items->data)));
    if (!secret)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(secret.get(), &length);
    return std::string(bytes, length);
}

} // namespace Platform::Keychain
