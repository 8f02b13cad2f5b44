// libsecret (GLib) first: Qt's keyword macros clash with GLib struct members.
#include <libsecret/secret.h>

#include "KeychainCredentialStore.h"
#include "KeychainError.h"
#include "SessionStorage.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <gtest/gtest.h>

// These tests run against the gnome-keyring of the private D-Bus session that
// scripts/run-tests starts (login collection unlocked with "velmo-test").
namespace {

constexpr const char* testService = "velmo-usage-test";
constexpr const char* keyringPassword = "velmo-test";

const SecretSchema testSchema = {
    "org.freedesktop.Secret.Generic",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
    },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::string uniqueAccount()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->name()) + "-" + std::to_string(::getpid());
}

// The test item's attributes; the caller unrefs the table.
GHashTable* attributesOf(const std::string& account)
{
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(testService));
    g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    return attributes;
}

// Puts raw bytes into the item, as another program (or corruption) would.
void storeRaw(const std::string& account, const std::string& bytes)
{
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    ASSERT_TRUE(service) << (error ? error->message : "");
    GHashTable* attributes = attributesOf(account);
    SecretValue* value = secret_value_new(bytes.data(), static_cast<gssize>(bytes.size()), "text/plain");
    const gboolean stored = secret_service_store_sync(
        service, &testSchema, attributes, SECRET_COLLECTION_DEFAULT, "test item", value, nullptr, &error);
    secret_value_unref(value);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    ASSERT_TRUE(stored) << (error ? error->message : "");
}

int itemCount(const std::string& account)
{
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    EXPECT_TRUE(service);
    GHashTable* attributes = attributesOf(account);
    GList* items = secret_service_search_sync(service, &testSchema, attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    return count;
}

void lockLoginCollection()
{
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    ASSERT_TRUE(service);
    SecretCollection* collection
        = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    ASSERT_TRUE(collection) << (error ? error->message : "");
    GList* objects = g_list_append(nullptr, collection);
    const gint count = secret_service_lock_sync(service, objects, nullptr, nullptr, &error);
    g_list_free(objects);
    g_object_unref(collection);
    g_object_unref(service);
    ASSERT_EQ(count, 1) << (error ? error->message : "");
}

// The Secret Service's secret struct (oayays), for gnome-keyring's own
// password unlock: no prompt is involved.
struct MasterSecret {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument& operator<<(QDBusArgument& argument, const MasterSecret& secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MasterSecret& secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

void unlockLoginCollection()
{
    qDBusRegisterMetaType<MasterSecret>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString name = QStringLiteral("org.freedesktop.secrets");
    const QString root = QStringLiteral("/org/freedesktop/secrets");
    QDBusMessage open = QDBusMessage::createMethodCall(name, root, "org.freedesktop.Secret.Service", "OpenSession");
    open << QString("plain") << QVariant::fromValue(QDBusVariant(QString()));
    const QDBusMessage opened = bus.call(open);
    ASSERT_EQ(opened.type(), QDBusMessage::ReplyMessage) << opened.errorMessage().toStdString();
    const auto session = opened.arguments().at(1).value<QDBusObjectPath>();
    QDBusMessage unlock = QDBusMessage::createMethodCall(
        name, root, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword");
    unlock << QVariant::fromValue(QDBusObjectPath(root + "/collection/login"))
           << QVariant::fromValue(MasterSecret { session, {}, keyringPassword, "text/plain" });
    const QDBusMessage unlocked = bus.call(unlock);
    ASSERT_EQ(unlocked.type(), QDBusMessage::ReplyMessage) << unlocked.errorMessage().toStdString();
    bus.call(QDBusMessage::createMethodCall(name, session.path(), "org.freedesktop.Secret.Session", "Close"));
}

const StoredTokens sample { .accessToken = "access-1", .refreshToken = "refresh-1", .expiresAt = 1.7e12, .clientId = "client-1" };

class KeychainCredentialStoreTest : public testing::Test {
protected:
    void TearDown() override
    {
        try {
            store.remove();
        } catch (...) {
        }
    }
    std::string account = uniqueAccount();
    KeychainCredentialStore store { testService, account };
};

} // namespace

TEST_F(KeychainCredentialStoreTest, SaveLoadReplaceDelete)
{
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_NO_THROW(store.remove());
    store.save(sample);
    EXPECT_EQ(store.load(), sample);
    const StoredTokens second { .accessToken = "access-2" };
    store.save(second);
    EXPECT_EQ(store.load(), second);
    EXPECT_EQ(itemCount(account), 1);
    // Another account of the same service is another record.
    KeychainCredentialStore other(testService, account + "-other");
    EXPECT_EQ(other.load(), std::nullopt);
    other.save(sample);
    EXPECT_EQ(store.load(), second);
    other.remove();
    store.remove();
    EXPECT_EQ(itemCount(account), 0);
    EXPECT_EQ(store.load(), std::nullopt);
}

TEST_F(KeychainCredentialStoreTest, UndecodableRecordIsAFailureNotNothing)
{
    storeRaw(account, "");
    EXPECT_EQ(store.load(), std::nullopt);
    storeRaw(account, "{\"accessToken\": 12");
    EXPECT_THROW(store.load(), VelmoJSON::DecodingError);
    storeRaw(account, R"({"refreshToken":"r"})");
    EXPECT_THROW(store.load(), VelmoJSON::DecodingError);
    // Saving over a corrupt record replaces it.
    store.save(sample);
    EXPECT_EQ(store.load(), sample);
}

TEST_F(KeychainCredentialStoreTest, LockedKeyringIsAnErrorNotNoRecord)
{
    store.save(sample);
    KeychainCredentialStore missing(testService, account + "-missing");
    const auto failure = [](auto operation) -> std::string {
        try {
            operation();
        } catch (const KeychainError& error) {
            return error.what();
        }
        return "no error";
    };
    lockLoginCollection();
    const std::vector<std::string> failures {
        failure([&] { store.load(); }),
        // Where no item can be seen, the locked collection is still an error.
        failure([&] { missing.load(); }),
        failure([&] { store.save(StoredTokens { .accessToken = "replacement" }); }),
        failure([&] { store.remove(); }),
    };
    unlockLoginCollection();
    EXPECT_EQ(failures[0], "The desktop keyring is locked");
    for (const std::string& text : failures)
        EXPECT_NE(text, "no error");
    // Nothing was lost or replaced while locked.
    EXPECT_EQ(store.load(), sample);
}

TEST(SessionStorageTest, KeyringIsChosenWhenTheBusHasASecretService)
{
    ASSERT_TRUE(SessionStorage::secretServiceAvailable());
    const SessionStorage storage = SessionStorage::platformDefault();
    EXPECT_EQ(storage.description, "Desktop keyring (Secret Service)");
    auto* keychain = dynamic_cast<KeychainCredentialStore*>(storage.store.get());
    ASSERT_TRUE(keychain);
    EXPECT_EQ(keychain->service(), "velmo-usage");
    EXPECT_EQ(keychain->account(), "oauth-session");
}
