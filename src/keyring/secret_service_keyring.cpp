#include "keyring/secret_service_keyring.h"

#include <libsecret/secret.h>

#include <dlfcn.h>
#include <memory>
#include <sys/resource.h>

namespace {

// libsecret is opened on first use, not linked: it brings GLib, GIO and libgcrypt, whose
// loading and set-up would double the start of every windowless run, while most runs never
// meet a password kept in the keyring.
struct SecretLibrary {
#define TARNWICK_SECRET_FUNCTIONS(X)                                                                                   \
    X(g_error_free)                                                                                                    \
    X(g_error_matches)                                                                                                 \
    X(g_object_unref)                                                                                                  \
    X(g_hash_table_new)                                                                                                \
    X(g_hash_table_insert)                                                                                             \
    X(g_hash_table_unref)                                                                                              \
    X(g_str_hash)                                                                                                      \
    X(g_str_equal)                                                                                                     \
    X(g_list_free_full)                                                                                                \
    X(g_dbus_error_quark)                                                                                              \
    X(secret_error_get_quark)                                                                                          \
    X(secret_service_get_sync)                                                                                         \
    X(secret_service_search_sync)                                                                                      \
    X(secret_service_store_sync)                                                                                       \
    X(secret_service_clear_sync)                                                                                       \
    X(secret_collection_for_alias_sync)                                                                                \
    X(secret_collection_get_locked)                                                                                    \
    X(secret_item_get_locked)                                                                                          \
    X(secret_item_get_secret)                                                                                          \
    X(secret_value_new)                                                                                                \
    X(secret_value_get)                                                                                                \
    X(secret_value_unref)
#define TARNWICK_DECLARE(name) decltype(&::name) name = nullptr;
    TARNWICK_SECRET_FUNCTIONS(TARNWICK_DECLARE)
#undef TARNWICK_DECLARE
    bool loaded = false;
    std::string problem;

    SecretLibrary()
    {
        // Never closed: GLib's types and threads stay registered for the life of the process.
        void* handle = ::dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            problem = std::string("libsecret is not installed (") + (why != nullptr ? why : "") + ")";
            return;
        }
        bool all = true;
#define TARNWICK_LOAD(name)                                                                                            \
    name = reinterpret_cast<decltype(name)>(::dlsym(handle, #name));                                                   \
    all = all && name != nullptr;
        TARNWICK_SECRET_FUNCTIONS(TARNWICK_LOAD)
#undef TARNWICK_LOAD
        loaded = all;
        if (!all)
            problem = "the installed libsecret lacks a function this program needs";
    }
#undef TARNWICK_SECRET_FUNCTIONS
};

// Loaded once and never changed after: safe to share between threads.
const SecretLibrary& secretLibrary()
{
    static const SecretLibrary library;
    return library;
}

const SecretSchema* passwordSchema()
{
    static const SecretSchema schema = {
        SecretServiceKeyring::kSchemaName,
        SECRET_SCHEMA_NONE,
        {
            { "project", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "site", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "user", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

struct ErrorFree {
    void operator()(GError* error) const { secretLibrary().g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

struct ObjectUnref {
    void operator()(void* object) const { secretLibrary().g_object_unref(object); }
};
using Service = std::unique_ptr<SecretService, ObjectUnref>;
using Collection = std::unique_ptr<SecretCollection, ObjectUnref>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { secretLibrary().g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableUnref>;

struct ItemListFree {
    void operator()(GList* list) const { secretLibrary().g_list_free_full(list, secretLibrary().g_object_unref); }
};
using ItemList = std::unique_ptr<GList, ItemListFree>;

struct ValueUnref {
    void operator()(SecretValue* value) const { secretLibrary().secret_value_unref(value); }
};
using Value = std::unique_ptr<SecretValue, ValueUnref>;

// The table points into `key`, which must outlive it.
Attributes attributesOf(const PasswordKey& key)
{
    Attributes table(secretLibrary().g_hash_table_new(secretLibrary().g_str_hash, secretLibrary().g_str_equal));
    secretLibrary().g_hash_table_insert(
        table.get(), const_cast<char*>("project"), const_cast<char*>(key.project.c_str()));
    secretLibrary().g_hash_table_insert(table.get(), const_cast<char*>("site"), const_cast<char*>(key.site.c_str()));
    secretLibrary().g_hash_table_insert(table.get(), const_cast<char*>("user"), const_cast<char*>(key.user.c_str()));
    return table;
}

KeyringAnswer answer(KeyringState state, std::string detail = {})
{
    KeyringAnswer result;
    result.state = state;
    result.detail = std::move(detail);
    return result;
}

// A refusal by the keyring is told apart from a bus without one: the first needs an unlock,
// the second a desktop session.
KeyringAnswer failure(const Error& error)
{
    const std::string text = error ? error->message : "no answer";
    if (error
        && (secretLibrary().g_error_matches(
                error.get(), secretLibrary().g_dbus_error_quark(), G_DBUS_ERROR_ACCESS_DENIED)
            || secretLibrary().g_error_matches(
                error.get(), secretLibrary().secret_error_get_quark(), SECRET_ERROR_IS_LOCKED)))
        return answer(KeyringState::Locked, text);
    return answer(KeyringState::Unreachable, text);
}

// Null, with `problem` saying why, when the library or the service cannot be had.
Service connectService(std::string& problem)
{
    Error error;
    if (!secretLibrary().loaded) {
        problem = secretLibrary().problem;
        return nullptr;
    }
    GError* raw = nullptr;
    Service service(secretLibrary().secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &raw));
    error.reset(raw);
    if (error)
        problem = error->message;
    return service;
}

// NOTE: once a password from the keyring is in this process, a crash must not write it to
// a core file. Only the soft limit is lowered, so a developer can raise it again.
void keepOutOfCoreFiles()
{
    struct rlimit limit { };
    if (::getrlimit(RLIMIT_CORE, &limit) == 0 && limit.rlim_cur != 0) {
        limit.rlim_cur = 0;
        (void)::setrlimit(RLIMIT_CORE, &limit);
    }
}

} // namespace

SecretServiceKeyring::SecretServiceKeyring(Prompting prompting)
    : prompting_(prompting)
{
}

bool SecretServiceKeyring::reachable()
{
    std::string problem;
    return connectService(problem) != nullptr;
}

KeyringAnswer SecretServiceKeyring::lookup(const PasswordKey& key)
{
    std::string problem;
    Service service = connectService(problem);
    if (!service)
        return answer(KeyringState::Unreachable, problem);
    Error error;
    Attributes attributes = attributesOf(key);
    GError* raw = nullptr;
    ItemList items(secretLibrary().secret_service_search_sync(service.get(), passwordSchema(), attributes.get(),
        static_cast<SecretSearchFlags>(SECRET_SEARCH_LOAD_SECRETS
            | (prompting_ == Prompting::Allowed ? SECRET_SEARCH_UNLOCK : SECRET_SEARCH_NONE)),
        nullptr, &raw));
    error.reset(raw);
    if (error)
        return failure(error);
    if (!items)
        return answer(KeyringState::NotFound);
    auto* item = static_cast<SecretItem*>(items->data);
    if (secretLibrary().secret_item_get_locked(item))
        return answer(KeyringState::Locked, "the keyring is locked");
    Value value(secretLibrary().secret_item_get_secret(item));
    if (!value)
        return answer(KeyringState::Locked, "the keyring gave no secret");
    gsize length = 0;
    const gchar* bytes = secretLibrary().secret_value_get(value.get(), &length);
    keepOutOfCoreFiles();
    KeyringAnswer found = answer(KeyringState::Found);
    found.password = SecretText(std::string_view(bytes, length));
    return found;
}

KeyringAnswer SecretServiceKeyring::store(const PasswordKey& key, std::string_view label, std::string_view password)
{
    std::string problem;
    Service service = connectService(problem);
    if (!service)
        return answer(KeyringState::Unreachable, problem);
    Error error;
    if (prompting_ == Prompting::Never) {
        // Storing into a locked or missing default collection would open an unlock or
        // create dialog and wait for it.
        GError* raw = nullptr;
        Collection collection(secretLibrary().secret_collection_for_alias_sync(
            service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &raw));
        error.reset(raw);
        if (error)
            return failure(error);
        if (!collection)
            return answer(KeyringState::Locked, "the keyring has no default collection");
        if (secretLibrary().secret_collection_get_locked(collection.get()))
            return answer(KeyringState::Locked, "the keyring is locked");
    }
    Attributes attributes = attributesOf(key);
    // The value copies the bytes; libsecret wipes its copy when it is released.
    Value value(secretLibrary().secret_value_new(password.data(), static_cast<gssize>(password.size()), "text/plain"));
    const std::string labelText(label);
    GError* raw = nullptr;
    const gboolean stored = secretLibrary().secret_service_store_sync(service.get(), passwordSchema(), attributes.get(),
        SECRET_COLLECTION_DEFAULT, labelText.c_str(), value.get(), nullptr, &raw);
    error.reset(raw);
    if (!stored)
        return error ? failure(error) : answer(KeyringState::Locked, "the keyring refused the password");
    return answer(KeyringState::Found);
}

KeyringAnswer SecretServiceKeyring::remove(const PasswordKey& key)
{
    std::string problem;
    Service service = connectService(problem);
    if (!service)
        return answer(KeyringState::Unreachable, problem);
    Error error;
    Attributes attributes = attributesOf(key);
    GError* raw = nullptr;
    const gboolean removed
        = secretLibrary().secret_service_clear_sync(service.get(), passwordSchema(), attributes.get(), nullptr, &raw);
    error.reset(raw);
    if (error)
        return failure(error);
    return answer(removed ? KeyringState::Found : KeyringState::NotFound);
}
