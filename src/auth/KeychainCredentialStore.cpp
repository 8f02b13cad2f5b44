// libsecret (GLib) first: Qt's keyword macros clash with GLib struct members.
#include <libsecret/secret.h>

#include "KeychainCredentialStore.h"

#include "KeychainError.h"

#include <QDir>
#include <QStandardPaths>

#include <memory>
#include <vector>

namespace {

// Items written by other programs with the same two attributes match too.
const SecretSchema schema = {
    "org.freedesktop.Secret.Generic",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
    },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct SecretValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;

// The GError becomes the KeychainError; the GError is freed.
[[noreturn]] void fail(GError* error)
{
    const std::int32_t code = error ? error->code : -1;
    std::string message = error && error->message ? error->message : "";
    if (error)
        g_error_free(error);
    throw KeychainError(code, std::move(message));
}

[[noreturn]] void failLocked()
{
    throw KeychainError(KeychainError::interactionNotAllowed, "The desktop keyring is locked");
}

GObjectPtr<SecretService> connect()
{
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        if (!error)
            throw KeychainError(KeychainError::notAvailable, "No Secret Service is available");
        fail(error);
    }
    return GObjectPtr<SecretService>(service);
}

AttributesPtr attributes(const std::string& service, const std::string& account)
{
    // Values are copied by libsecret when it builds the D-Bus message; the
    // table itself does not own them.
    GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(table, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
    g_hash_table_insert(table, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    return AttributesPtr(table);
}

struct Items {
    std::vector<GObjectPtr<SecretItem>> unlocked;
    bool anyLocked = false;
};

// Both locked and unlocked items; nothing is unlocked on the way.
Items search(SecretService* service, const std::string& serviceName, const std::string& account, bool withSecrets)
{
    const AttributesPtr query = attributes(serviceName, account);
    GError* error = nullptr;
    const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | (withSecrets ? SECRET_SEARCH_LOAD_SECRETS : 0));
    GList* found = secret_service_search_sync(service, &schema, query.get(), flags, nullptr, &error);
    if (error) {
        g_list_free_full(found, g_object_unref);
        fail(error);
    }
    Items items;
    for (GList* node = found; node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        if (secret_item_get_locked(item)) {
            items.anyLocked = true;
            g_object_unref(item);
        } else {
            items.unlocked.emplace_back(item);
        }
    }
    g_list_free(found);
    return items;
}

// A locked default collection hides whether our item exists (a locked
// keyring answers searches with nothing).
void requireUnlockedDefaultCollection(SecretService* service)
{
    GError* error = nullptr;
    SecretCollection* collection
        = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    if (error)
        fail(error);
    if (!collection)
        return; // No default collection yet: storing creates it.
    const GObjectPtr<SecretCollection> owner(collection);
    if (secret_collection_get_locked(collection))
        failLocked();
}

} // namespace

KeychainCredentialStore::KeychainCredentialStore(std::string service, std::string account)
    : m_service(std::move(service))
    , m_account(std::move(account))
{
}

std::optional<StoredTokens> KeychainCredentialStore::load()
{
    const auto service = connect();
    const Items items = search(service.get(), m_service, m_account, true);
    if (items.unlocked.empty()) {
        if (items.anyLocked)
            failLocked();
        requireUnlockedDefaultCollection(service.get());
        return std::nullopt;
    }
    SecretItem* item = items.unlocked.front().get();
    SecretValuePtr value(secret_item_get_secret(item));
    if (!value) {
        GError* error = nullptr;
        if (!secret_item_load_secret_sync(item, nullptr, &error))
            fail(error);
        value.reset(secret_item_get_secret(item));
    }
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar* data = secret_value_get(value.get(), &length);
    if (!data || length == 0)
        return std::nullopt;
    return VelmoJSON::decode<StoredTokens>(std::string_view(data, length));
}

void KeychainCredentialStore::save(const StoredTokens& tokens)
{
    const std::string json = VelmoJSON::encode(tokens);
    const auto service = connect();
    const Items items = search(service.get(), m_service, m_account, false);
    const SecretValuePtr value(secret_value_new(json.data(), static_cast<gssize>(json.size()), "text/plain"));
    GError* error = nullptr;
    if (!items.unlocked.empty()) {
        // Replace only the secret; label and attributes stay as they are.
        if (!secret_item_set_secret_sync(items.unlocked.front().get(), value.get(), nullptr, &error))
            fail(error);
        return;
    }
    if (items.anyLocked)
        failLocked();
    requireUnlockedDefaultCollection(service.get());
    const AttributesPtr query = attributes(m_service, m_account);
    const std::string label = m_service + " (" + m_account + ")";
    if (!secret_service_store_sync(service.get(), &schema, query.get(), SECRET_COLLECTION_DEFAULT, label.c_str(),
            value.get(), nullptr, &error))
        fail(error);
}

void KeychainCredentialStore::remove()
{
    const auto service = connect();
    const Items items = search(service.get(), m_service, m_account, false);
    if (items.anyLocked)
        failLocked();
    if (items.unlocked.empty())
        requireUnlockedDefaultCollection(service.get());
    for (const auto& item : items.unlocked) {
        GError* error = nullptr;
        if (!secret_item_delete_sync(item.get(), nullptr, &error))
            fail(error);
    }
}

std::optional<std::string> KeychainCredentialStore::lockPath() const
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString name = QString::fromStdString(m_service + "." + m_account + ".lock");
    return QDir(base).filePath(QStringLiteral("VelmoUsage/") + name).toStdString();
}
