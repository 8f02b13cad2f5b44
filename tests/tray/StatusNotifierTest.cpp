// Our StatusNotifierItem against a minimal watcher on the test's private
// session bus. The watcher and the test's calls use a connection of their
// own, asynchronously, because the item answers on this same thread.
#include "AppContainer.h"
#include "DBusMenuExporter.h"
#include "DemoAccount.h"
#include "InMemoryCredentialStore.h"
#include "PanelWindow.h"
#include "SettingsWindow.h"
#include "StatusItemController.h"
#include "StatusNotifierItem.h"
#include "TestSupport.h"
#include "VelmoJSON.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QQuickView>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr int timeoutMs = 30'000;
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

// As much of org.kde.StatusNotifierWatcher as an item needs; it also
// listens to the item's signals.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    QStringList items;
    QStringList labels;
    int layoutUpdates = 0;

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) { items << service; }
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString&) { }
    void onLabel(const QString& label, const QString&) { labels << label; }
    void onLayout(uint, int) { ++layoutUpdates; }
};

class StatusNotifierTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A feed makes the updater able to start; it probes only after 15 s.
        qputenv("VELMO_FEED_URL", "http://127.0.0.1:9/appcast.xml");
        qputenv("VELMO_FEED_PUBLIC_KEY", QByteArray(32, '\0').toBase64());
        ASSERT_TRUE(bus.isConnected());
        ASSERT_TRUE(bus.registerObject("/StatusNotifierWatcher", &watcher,
            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(bus.registerService(StatusNotifierItem::watcherService));
        AppContainer::Options options;
        options.removeLegacyAPIKey = {};
        container = std::make_unique<AppContainer>(std::make_unique<SettingsStore>(std::make_unique<QSettings>(
                                                       scratch.filePath("settings.ini"), QSettings::IniFormat)),
            sessions, std::nullopt, options);
        item = std::make_unique<StatusItemController>(*container, StatusItemController::Options {});
        ASSERT_EQ(item->backend(), StatusItemController::Backend::statusNotifier);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items.isEmpty(); }, timeoutMs));
        service = watcher.items.front();
        bus.connect(service, StatusNotifierItem::itemPath, itemInterface, "XAyatanaNewLabel", &watcher,
            SLOT(onLabel(QString, QString)));
        bus.connect(service, StatusNotifierItem::menuPath, menuInterface, "LayoutUpdated", &watcher,
            SLOT(onLayout(uint, int)));
    }

    void TearDown() override
    {
        item.reset();
        container.reset();
        bus.unregisterService(StatusNotifierItem::watcherService);
        bus.unregisterObject("/StatusNotifierWatcher");
        QDBusConnection::disconnectFromBus("velmo-test-watcher");
    }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method, QVariantList args)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        QDBusPendingCallWatcher pending(bus.asyncCall(message, timeoutMs));
        QEventLoop loop;
        QObject::connect(&pending, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!pending.isFinished())
            loop.exec();
        return pending.reply();
    }

    template <typename T>
    T property(const QString& name)
    {
        const QDBusMessage reply = call(StatusNotifierItem::itemPath, "org.freedesktop.DBus.Properties", "Get",
            { itemInterface, name });
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        if constexpr (std::is_same_v<T, QString>)
            return value.toString();
        else
            return qdbus_cast<T>(value.value<QDBusArgument>());
    }

    // The menu's items as their labels, "-" for a separator.
    QStringList menuLabels()
    {
        const QDBusMessage reply
            = call(StatusNotifierItem::menuPath, menuInterface, "GetLayout", { 0, -1, QStringList() });
        EXPECT_EQ(reply.arguments().size(), 2) << reply.errorMessage().toStdString();
        const auto layout = qdbus_cast<DBusMenuLayout>(reply.arguments().value(1).value<QDBusArgument>());
        QStringList labels;
        for (const DBusMenuLayout& child : layout.children)
            labels << (child.properties.value("type") == "separator" ? "-" : child.properties.value("label").toString());
        return labels;
    }

    void signInWithBalance()
    {
        const auto now = std::chrono::system_clock::now();
        sessions->save({ .accessToken = "vat_test" });
        container->store().reloadCredential();
        Snapshot snapshot;
        snapshot.balance = VelmoJSON::Coder<Balance>::decode(velmo::devserver::DemoAccount::balance(now));
        snapshot.fetchedAt = now;
        container->store().setSnapshot(snapshot);
    }

    velmo::test::ScratchDir scratch;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "velmo-test-watcher");
    FakeWatcher watcher;
    std::shared_ptr<InMemoryCredentialStore> sessions = std::make_shared<InMemoryCredentialStore>();
    std::unique_ptr<AppContainer> container;
    std::unique_ptr<StatusItemController> item;
    QString service;
};

} // namespace

TEST_F(StatusNotifierTest, LabelToolTipAndIconFollowTheStore)
{
    EXPECT_EQ(service, item->statusNotifierItem()->serviceName());
    EXPECT_EQ(property<QString>("XAyatanaLabel"), "?");
    const auto signedOut = property<SNIToolTip>("ToolTip");
    EXPECT_EQ(signedOut.title, "Velmo Usage");
    EXPECT_EQ(signedOut.description, "Not signed in \u2014 open Settings");
    const auto icon = property<SNIPixmapList>("IconPixmap");
    ASSERT_FALSE(icon.isEmpty());
    EXPECT_EQ(icon.front().bytes.size(), icon.front().width * icon.front().height * 4);

    signInWithBalance();
    const QString balance
        = QString::fromStdString(container->store().snapshot()->balance->accountBalance.compact());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.labels.contains(balance); }, timeoutMs))
        << watcher.labels.join(", ").toStdString();
    EXPECT_EQ(property<QString>("XAyatanaLabel"), balance);
    EXPECT_TRUE(property<SNIToolTip>("ToolTip").description.startsWith("Available $"));
    // Rendering again without a change sends nothing.
    const auto heard = watcher.labels.size();
    item->render();
    // A signal sent by render() arrives before the answer to a later call.
    EXPECT_EQ(property<QString>("XAyatanaLabel"), balance);
    EXPECT_EQ(watcher.labels.size(), heard);
    // An account that runs out tints the mark.
    Snapshot empty = *container->store().snapshot();
    empty.balance->accountBalance = empty.balance->availableBalance = MicrosUSD::zero;
    container->store().setSnapshot(empty);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return property<SNIPixmapList>("IconPixmap").front().bytes != icon.front().bytes; }, timeoutMs));
}

TEST_F(StatusNotifierTest, ActivateTogglesThePanelNearThePoint)
{
    call(StatusNotifierItem::itemPath, itemInterface, "Activate", { 300, 10 });
    ASSERT_TRUE(QTest::qWaitFor([&] { return item->panel().isPresented(); }, timeoutMs));
    EXPECT_TRUE(item->panel().view()->isVisible());
    EXPECT_EQ(item->panel().view()->x(), 300 - PanelWindow::width / 2);
    EXPECT_GT(item->panel().view()->y(), 10);
    call(StatusNotifierItem::itemPath, itemInterface, "Activate", { 300, 10 });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !item->panel().isPresented(); }, timeoutMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !item->panel().view()->isVisible(); }, timeoutMs));
}

TEST_F(StatusNotifierTest, MenuOffersUpdatesOnlyWhileTheUpdaterIsActiveAndRunsItsItems)
{
    const QStringList common { "Refresh Now", "Open Console\u2026", "-", "Settings\u2026", "-", "Quit Velmo Usage" };
    EXPECT_EQ(menuLabels(), common);
    container->updater().start();
    ASSERT_TRUE(container->updater().isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.layoutUpdates > 0; }, timeoutMs));
    QStringList withUpdates = common;
    withUpdates.insert(2, "Check for Updates\u2026");
    EXPECT_EQ(menuLabels(), withUpdates);

    const int settingsId = DBusMenuExporter::idOf(TrayMenu::Action::settings);
    call(StatusNotifierItem::menuPath, menuInterface, "Event",
        { settingsId, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return item->settingsWindow() && item->settingsWindow()->window()->isVisible(); }, timeoutMs));
}

TEST_F(StatusNotifierTest, RegistersAgainWhenTheWatcherComesBack)
{
    ASSERT_TRUE(bus.unregisterService(StatusNotifierItem::watcherService));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return item->backend() != StatusItemController::Backend::statusNotifier; }, timeoutMs));
    // A tray that goes away later opens no window.
    EXPECT_FALSE(item->panel().isPresented());
    ASSERT_TRUE(bus.registerService(StatusNotifierItem::watcherService));
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.items.size() == 2; }, timeoutMs));
    EXPECT_EQ(watcher.items.back(), service);
    EXPECT_EQ(item->backend(), StatusItemController::Backend::statusNotifier);
}

#include "StatusNotifierTest.moc"
