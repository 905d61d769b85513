#include "Keychain.h"

#include "Log.h"

#include <libsecret/secret.h>

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace Platform::Keychain {

namespace {

constexpr const char logCategory[] = "Keychain";

// libsecret is loaded on the first call rather than with the program: with GIO and GObject under
// it, it is seven libraries to map and relocate at every start, for an item read only at sign-in.
// The functions come from its handle, which also finds those of the libraries it depends on.
#define ORVANE_SECRET_FUNCTIONS(F) \
    F(g_cancellable_cancel) \
    F(g_cancellable_new) \
    F(g_error_free) \
    F(g_hash_table_unref) \
    F(g_list_free_full) \
    F(g_object_unref) \
    F(secret_attributes_build) \
    F(secret_collection_for_alias_sync) \
    F(secret_collection_get_locked) \
    F(secret_item_get_secret) \
    F(secret_service_get_sync) \
    F(secret_service_search_sync) \
    F(secret_service_store_sync) \
    F(secret_value_get) \
    F(secret_value_new) \
    F(secret_value_unref)

struct SecretLibrary
{
#define ORVANE_SECRET_POINTER(name) decltype(&::name) name = nullptr;
    ORVANE_SECRET_FUNCTIONS(ORVANE_SECRET_POINTER)
#undef ORVANE_SECRET_POINTER

    // The library, or nullptr when it or one of its functions is missing; loaded once, never
    // unloaded (GLib's type system does not allow it).
    static const SecretLibrary *get()
    {
        static const std::unique_ptr<SecretLibrary> library = load();
        return library.get();
    }

private:
    static std::unique_ptr<SecretLibrary> load()
    {
        constexpr const char soname[] = "libsecret-1.so.0";
        void *handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            Log::system(LogLevel::Error, logCategory, std::string("cannot load ") + dlerror());
            return nullptr;
        }
        auto library = std::make_unique<SecretLibrary>();
#define ORVANE_SECRET_RESOLVE(name) \
    library->name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
    if (!library->name) { \
        Log::system(LogLevel::Error, logCategory, std::string(soname) + " lacks " #name); \
        return nullptr; \
    }
        ORVANE_SECRET_FUNCTIONS(ORVANE_SECRET_RESOLVE)
#undef ORVANE_SECRET_RESOLVE
        return library;
    }
};

#undef ORVANE_SECRET_FUNCTIONS

// Only once SecretLibrary::get() has given the library.
const SecretLibrary &libsecret()
{
    return *SecretLibrary::get();
}

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
    void operator()(gpointer object) const { libsecret().g_object_unref(object); }
};
template<typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct HashTableDeleter
{
    void operator()(GHashTable *table) const { libsecret().g_hash_table_unref(table); }
};
struct SecretValueDeleter
{
    void operator()(SecretValue *value) const { libsecret().secret_value_unref(value); }
};
struct ItemListDeleter
{
    void operator()(GList *items) const
    {
        libsecret().g_list_free_full(items, libsecret().g_object_unref);
    }
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
                libsecret().g_cancellable_cancel(cancellable);
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
        : m_cancellable(libsecret().g_cancellable_new())
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
        m_service.reset(
            libsecret().secret_service_get_sync(SECRET_SERVICE_NONE, cancellable(), &error));
        report(error);
        return m_service.get();
    }

    // Items matching the account, locked ones without their secret.
    std::unique_ptr<GList, ItemListDeleter> search(const std::string &account,
                                                   SecretSearchFlags flags)
    {
        std::unique_ptr<GHashTable, HashTableDeleter> attributes(
            libsecret().secret_attributes_build(&genericPasswordSchema(),
                                                "account",
                                                account.c_str(),
                                                nullptr));
        GError *error = nullptr;
        std::unique_ptr<GList, ItemListDeleter> items(
            libsecret().secret_service_search_sync(m_service.get(),
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
            libsecret().secret_collection_for_alias_sync(m_service.get(),
                                                         SECRET_COLLECTION_DEFAULT,
                                                         SECRET_COLLECTION_NONE,
                                                         cancellable(),
                                                         &error));
        report(error);
        return collection && !libsecret().secret_collection_get_locked(collection.get());
    }

    bool store(const std::string &account, std::string_view data)
    {
        std::unique_ptr<GHashTable, HashTableDeleter> attributes(
            libsecret().secret_attributes_build(&genericPasswordSchema(),
                                                "account",
                                                account.c_str(),
                                                nullptr));
        std::unique_ptr<SecretValue, SecretValueDeleter> value(
            libsecret().secret_value_new(data.data(),
                                         gssize(data.size()),
                                         "application/octet-stream"));
        const std::string label = "OrvaneVPN: " + account;
        GError *error = nullptr;
        const bool stored = libsecret().secret_service_store_sync(m_service.get(),
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
        libsecret().g_error_free(error);
    }

    GObjectPtr<GCancellable> m_cancellable;
    GObjectPtr<SecretService> m_service;
    bool m_failed = false;
    Deadline m_deadline; // last: joins its thread before the cancellable goes
};

} // namespace

bool addGenericPassword(const std::string &account, std::string_view data)
{
    if (!SecretLibrary::get())
        return false;
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
    if (!SecretLibrary::get())
        return std::nullopt;
    Call call;
    if (!call.service())
        return std::nullopt;
    const auto items = call.search(account, SECRET_SEARCH_LOAD_SECRETS);
    if (!items)
        return std::nullopt;
    std::unique_ptr<SecretValue, SecretValueDeleter> secret(
        libsecret().secret_item_get_secret(static_cast<SecretItem *>(items->data)));
    if (!secret)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = libsecret().secret_value_get(secret.get(), &length);
    return std::string(bytes, length);
}

} // namespace Platform::Keychain
