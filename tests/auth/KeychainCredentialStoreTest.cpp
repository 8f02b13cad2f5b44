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
const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString root = QStringLiteral("/org/freedesktop/secrets");
const QString login = QStringLiteral("/org/freedesktop/secrets/collection/login");

const SecretSchema testSchema = {
    "org.freedesktop.Secret.Generic", SECRET_SCHEMA_DONT_MATCH_NAME,
    { { "service", SECRET_SCHEMA_ATTRIBUTE_STRING }, { "account", SECRET_SCHEMA_ATTRIBUTE_STRING }, { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING } },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Puts raw bytes into the item, as another program (or corruption) would.
void storeRaw(const std::string& account, const std::string& bytes)
{
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, nullptr);
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(testService));
    g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    SecretValue* value = secret_value_new(bytes.data(), static_cast<gssize>(bytes.size()), "text/plain");
    EXPECT_TRUE(secret_service_store_sync(service, &testSchema, attributes, SECRET_COLLECTION_DEFAULT, "test item", value, nullptr, nullptr));
    secret_value_unref(value);
    g_hash_table_unref(attributes);
    g_object_unref(service);
}

int itemCount(const std::string& account)
{
    GList* items = secret_password_search_sync(&testSchema, SECRET_SEARCH_ALL, nullptr, nullptr, "service", testService,
        "account", account.c_str(), nullptr);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
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

QDBusMessage call(const QString& path, const QString& interface, const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(secrets, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message);
}

void setLoginLocked(bool locked)
{
    const QString service = QStringLiteral("org.freedesktop.Secret.Service");
    if (locked) {
        const auto reply = call(root, service, "Lock", { QVariant::fromValue(QList<QDBusObjectPath> { QDBusObjectPath(login) }) });
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return;
    }
    qDBusRegisterMetaType<MasterSecret>();
    const auto opened = call(root, service, "OpenSession", { QString("plain"), QVariant::fromValue(QDBusVariant(QString())) });
    ASSERT_EQ(opened.type(), QDBusMessage::ReplyMessage) << opened.errorMessage().toStdString();
    const auto session = opened.arguments().at(1).value<QDBusObjectPath>();
    const auto unlocked = call(root, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
        { QVariant::fromValue(QDBusObjectPath(login)), QVariant::fromValue(MasterSecret { session, {}, "velmo-test", "text/plain" }) });
    ASSERT_EQ(unlocked.type(), QDBusMessage::ReplyMessage) << unlocked.errorMessage().toStdString();
    call(session.path(), "org.freedesktop.Secret.Session", "Close", {});
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
    std::string account = std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" + std::to_string(::getpid());
    KeychainCredentialStore store { testService, account };
};

} // namespace

TEST_F(KeychainCredentialStoreTest, OneItemReplacedWholeAndAnUndecodableOneIsAFailure)
{
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_NO_THROW(store.remove());
    storeRaw(account, "");
    EXPECT_EQ(store.load(), std::nullopt);
    for (const char* bad : { "{\"accessToken\": 12", R"({"refreshToken":"r"})" }) {
        storeRaw(account, bad);
        EXPECT_THROW(store.load(), VelmoJSON::DecodingError) << bad;
    }
    // Saving over a corrupt record replaces it; saving again keeps one item.
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
    EXPECT_EQ(store.load(), std::nullopt);
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
    setLoginLocked(true);
    const std::vector<std::string> failures {
        failure([&] { store.load(); }),
        // Where no item can be seen, the locked collection is still an error.
        failure([&] { missing.load(); }),
        failure([&] { store.save(StoredTokens { .accessToken = "replacement" }); }),
        failure([&] { store.remove(); }),
    };
    setLoginLocked(false);
    EXPECT_EQ(failures[0], "The desktop keyring is locked");
    for (const std::string& text : failures)
        EXPECT_NE(text, "no error");
    // Nothing was lost or replaced while locked.
    EXPECT_EQ(store.load(), sample);
}

TEST(SessionStorageTest, KeyringIsChosenWhenTheBusHasASecretServiceAndRenewsUnderALock)
{
    ASSERT_TRUE(SessionStorage::secretServiceAvailable());
    const SessionStorage storage = SessionStorage::platformDefault();
    EXPECT_EQ(storage.description, "Desktop keyring (Secret Service)");
    auto* keychain = dynamic_cast<KeychainCredentialStore*>(storage.store.get());
    ASSERT_TRUE(keychain);
    EXPECT_EQ(keychain->service(), "velmo-usage");
    EXPECT_EQ(keychain->account(), "oauth-session");
    // Processes sharing the keyring item renew it one at a time.
    EXPECT_TRUE(keychain->lockPath().value_or("").ends_with("/VelmoUsage/velmo-usage.oauth-session.lock"));
}
