// libsecret (GLib) first: Qt's keyword macros clash with GLib struct members.
#include <libsecret/secret.h>

#include "KeychainCredentialStore.h"
#include "KeychainError.h"
#include "SessionStorage.h"

#include <gtest/gtest.h>

// These tests run against the gnome-keyring of the private D-Bus session that
// scripts/run-tests starts (login collection unlocked with "velmo-test").
namespace {

constexpr const char* testService = "velmo-usage-test";

const SecretSchema testSchema = {
    "org.freedesktop.Secret.Generic", SECRET_SCHEMA_DONT_MATCH_NAME,
    { { "service", SECRET_SCHEMA_ATTRIBUTE_STRING }, { "account", SECRET_SCHEMA_ATTRIBUTE_STRING }, { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING } },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int itemCount(const std::string& account)
{
    GList* items = secret_password_search_sync(&testSchema, SECRET_SEARCH_ALL, nullptr, nullptr, "service", testService,
        "account", account.c_str(), nullptr);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

// Locks the login collection, or unlocks it with gnome-keyring's own
// password call (no prompt involved).
GVariant* callSecrets(const char* interface, const char* method, GVariant* arguments)
{
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", interface,
        method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    EXPECT_TRUE(reply) << method << ": " << (error ? error->message : "");
    g_clear_error(&error);
    g_object_unref(bus);
    return reply;
}

void setLoginLocked(bool locked)
{
    const char* const login = "/org/freedesktop/secrets/collection/login";
    if (locked) {
        g_variant_unref(callSecrets("org.freedesktop.Secret.Service", "Lock", g_variant_new_parsed("([%o],)", login)));
        return;
    }
    GVariant* opened = callSecrets("org.freedesktop.Secret.Service", "OpenSession", g_variant_new_parsed("('plain', <''>)"));
    const char* session = nullptr;
    g_variant_get(opened, "(v&o)", nullptr, &session);
    g_variant_unref(callSecrets("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
        g_variant_new_parsed("(%o, (%o, @ay [], %@ay, 'text/plain'))", login, session,
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "velmo-test", 10, 1))));
    g_variant_unref(opened);
}

const StoredTokens sample { .accessToken = "access-1", .refreshToken = "refresh-1", .expiresAt = 1.7e12, .clientId = "client-1" };

class KeychainCredentialStoreTest : public testing::Test {
protected:
    // Removed even when the test left the keyring locked (then nothing is removed).
    void TearDown() override { secret_password_clear_sync(&testSchema, nullptr, nullptr, "service", testService, "account", account.c_str(), nullptr); }
    std::string account = std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" + std::to_string(::getpid());
    KeychainCredentialStore store { testService, account };
};

} // namespace

TEST_F(KeychainCredentialStoreTest, ARealKeyringRoundTripKeepsOneItemPerAccount)
{
    // Bad records are the file store's and StoredTokens' tables: load() decodes the same way.
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_NO_THROW(store.remove());
    // Saving again replaces the one item.
    for (const StoredTokens& tokens : { sample, StoredTokens { .accessToken = "access-2" } }) {
        store.save(tokens);
        EXPECT_EQ(store.load(), tokens);
    }
    EXPECT_EQ(itemCount(account), 1);
    // Another account of the same service is another record.
    KeychainCredentialStore other(testService, account + "-other");
    other.save(sample);
    EXPECT_EQ(store.load()->accessToken, "access-2");
    other.remove();
    store.remove();
    EXPECT_EQ(itemCount(account), 0);
}

TEST_F(KeychainCredentialStoreTest, LockedKeyringIsAnErrorNotNoRecord)
{
    store.save(sample);
    KeychainCredentialStore missing(testService, account + "-missing");
    setLoginLocked(true);
    // Where no item can be seen (`missing`), the locked collection is still an error.
    std::vector<std::string> failures;
    for (const std::function<void()>& operation : std::vector<std::function<void()>> { [&] { store.load(); },
             [&] { missing.load(); }, [&] { store.save(StoredTokens { .accessToken = "replacement" }); }, [&] { store.remove(); } }) {
        try {
            operation();
            failures.push_back("no error");
        } catch (const KeychainError& error) {
            failures.push_back(error.what());
        }
    }
    setLoginLocked(false);
    EXPECT_EQ(failures, std::vector<std::string>(4, "The desktop keyring is locked"));
    // Nothing was lost or replaced while locked.
    EXPECT_EQ(store.load(), sample);
}

TEST(SessionStorageTest, KeyringIsChosenWhenTheBusHasASecretServiceAndRenewsUnderALock)
{
    ASSERT_TRUE(SessionStorage::secretServiceAvailable());
    const SessionStorage storage = SessionStorage::platformDefault();
    auto* keychain = dynamic_cast<KeychainCredentialStore*>(storage.store.get());
    ASSERT_TRUE(keychain);
    EXPECT_EQ(keychain->service(), "velmo-usage");
    EXPECT_EQ(keychain->account(), "oauth-session");
    // Processes sharing the keyring item renew it one at a time.
    EXPECT_TRUE(keychain->lockPath().value_or("").ends_with("/VelmoUsage/velmo-usage.oauth-session.lock"));
}
