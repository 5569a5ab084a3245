#include "keyring/secret_service_keyring.h"

#include <libsecret/secret.h>

#include <memory>
#include <sys/resource.h>

namespace {

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
    void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

struct ObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
using Service = std::unique_ptr<SecretService, ObjectUnref>;
using Collection = std::unique_ptr<SecretCollection, ObjectUnref>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableUnref>;

struct ItemListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using ItemList = std::unique_ptr<GList, ItemListFree>;

struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using Value = std::unique_ptr<SecretValue, ValueUnref>;

// The table points into `key`, which must outlive it.
Attributes attributesOf(const PasswordKey& key)
{
    Attributes table(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(table.get(), const_cast<char*>("project"), const_cast<char*>(key.project.c_str()));
    g_hash_table_insert(table.get(), const_cast<char*>("site"), const_cast<char*>(key.site.c_str()));
    g_hash_table_insert(table.get(), const_cast<char*>("user"), const_cast<char*>(key.user.c_str()));
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
        && (g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED)
            || g_error_matches(error.get(), SECRET_ERROR, SECRET_ERROR_IS_LOCKED)))
        return answer(KeyringState::Locked, text);
    return answer(KeyringState::Unreachable, text);
}

Service connectService(Error& error)
{
    GError* raw = nullptr;
    Service service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &raw));
    error.reset(raw);
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
    Error error;
    return connectService(error) != nullptr;
}

KeyringAnswer SecretServiceKeyring::lookup(const PasswordKey& key)
{
    Error error;
    Service service = connectService(error);
    if (!service)
        return answer(KeyringState::Unreachable, error ? error->message : "");
    Attributes attributes = attributesOf(key);
    GError* raw = nullptr;
    ItemList items(secret_service_search_sync(service.get(), passwordSchema(), attributes.get(),
        static_cast<SecretSearchFlags>(SECRET_SEARCH_LOAD_SECRETS
            | (prompting_ == Prompting::Allowed ? SECRET_SEARCH_UNLOCK : SECRET_SEARCH_NONE)),
        nullptr, &raw));
    error.reset(raw);
    if (error)
        return failure(error);
    if (!items)
        return answer(KeyringState::NotFound);
    auto* item = static_cast<SecretItem*>(items->data);
    if (secret_item_get_locked(item))
        return answer(KeyringState::Locked, "the keyring is locked");
    Value value(secret_item_get_secret(item));
    if (!value)
        return answer(KeyringState::Locked, "the keyring gave no secret");
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    keepOutOfCoreFiles();
    KeyringAnswer found = answer(KeyringState::Found);
    found.password = SecretText(std::string_view(bytes, length));
    return found;
}

KeyringAnswer SecretServiceKeyring::store(const PasswordKey& key, std::string_view label, std::string_view password)
{
    Error error;
    Service service = connectService(error);
    if (!service)
        return answer(KeyringState::Unreachable, error ? error->message : "");
    if (prompting_ == Prompting::Never) {
        // Storing into a locked or missing default collection would open an unlock or
        // create dialog and wait for it.
        GError* raw = nullptr;
        Collection collection(secret_collection_for_alias_sync(
            service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &raw));
        error.reset(raw);
        if (error)
            return failure(error);
        if (!collection)
            return answer(KeyringState::Locked, "the keyring has no default collection");
        if (secret_collection_get_locked(collection.get()))
            return answer(KeyringState::Locked, "the keyring is locked");
    }
    Attributes attributes = attributesOf(key);
    // The value copies the bytes; libsecret wipes its copy when it is released.
    Value value(secret_value_new(password.data(), static_cast<gssize>(password.size()), "text/plain"));
    const std::string labelText(label);
    GError* raw = nullptr;
    const gboolean stored = secret_service_store_sync(service.get(), passwordSchema(), attributes.get(),
        SECRET_COLLECTION_DEFAULT, labelText.c_str(), value.get(), nullptr, &raw);
    error.reset(raw);
    if (!stored)
        return error ? failure(error) : answer(KeyringState::Locked, "the keyring refused the password");
    return answer(KeyringState::Found);
}

KeyringAnswer SecretServiceKeyring::remove(const PasswordKey& key)
{
    Error error;
    Service service = connectService(error);
    if (!service)
        return answer(KeyringState::Unreachable, error ? error->message : "");
    Attributes attributes = attributesOf(key);
    GError* raw = nullptr;
    const gboolean removed
        = secret_service_clear_sync(service.get(), passwordSchema(), attributes.get(), nullptr, &raw);
    error.reset(raw);
    if (error)
        return failure(error);
    return answer(removed ? KeyringState::Found : KeyringState::NotFound);
}
