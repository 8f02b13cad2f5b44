// The settings form's QML, loaded offscreen for the states the stores can
// be in and probed; the real window driven by keyboard. Any QML warning
// fails the test.
#include "AppContainer.h"
#include "AsyncWait.h"
#include "CLICredentialReader.h"
#include "FileCredentialStore.h"
#include "SettingsModel.h"
#include "SettingsWindow.h"
#include "FakeHTTPTransport.h"
#include "QuickScene.h"
#include "TestSupport.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// A container over a scratch home, keyring file and preferences; the
// identity provider is a port that accepts and never answers, so a sign-in
// waits for the browser until cancelled.
class FormFixture {
public:
    FormFixture()
    {
        AppContainer::Options options;
        options.removeLegacyAPIKey = {};
        container = std::make_unique<AppContainer>(
            std::make_unique<SettingsStore>(
                std::make_unique<QSettings>(scratch.filePath("defaults.ini"), QSettings::IniFormat)),
            sessions, std::nullopt, options);
        auto rejecting = std::make_shared<velmo::test::FakeHTTPTransport>();
        rejecting->otherwise = HTTPResponse { 401, R"({"error":{"message":"Invalid token"}})", {} };
        container->store().setClient(VelmoClient(QUrl("https://api.test"), HTTPClient(rejecting, 1, 0.0, 5.0)));
    }

    ~FormFixture()
    {
        container->login().cancel();
        QCoreApplication::processEvents();
    }

    // With a lifetime: a renewable session expiring then; without: a
    // session that cannot be renewed (a rejection is then final).
    void signInWithBrowser(std::optional<std::chrono::seconds> lifetime = std::nullopt)
    {
        StoredTokens tokens { .accessToken = "vat_browser_0123456789" };
        if (lifetime) {
            const auto expiry = std::chrono::duration_cast<std::chrono::milliseconds>(
                (std::chrono::system_clock::now() + *lifetime).time_since_epoch());
            tokens.refreshToken = "r";
            tokens.clientId = "c";
            tokens.expiresAt = static_cast<double>(expiry.count());
        }
        sessions->save(tokens);
        container->store().reloadCredential();
    }

    void signInWithCLI()
    {
        CLICredentialReader(scratch.path().toStdString()).write({ .accessToken = "vat_cli_0123456789ab" });
        container->store().reloadCredential();
    }

    void refresh()
    {
        auto refresh = container->store().refresh();
        ASSERT_FALSE(velmo::test::waitForTask(std::move(refresh)).timedOut);
    }

    QString listenSilently()
    {
        EXPECT_TRUE(silentProvider.listen(QHostAddress::LocalHost));
        return QStringLiteral("http://127.0.0.1:%1").arg(silentProvider.serverPort());
    }

    LaunchAtLogin launchAtLogin() const
    {
        return LaunchAtLogin(scratch.filePath("config"), scratch.filePath("build/velmo-usage"));
    }

    velmo::test::ScratchDir scratch;
    QTcpServer silentProvider;
    velmo::test::ScopedEnv home { "HOME", scratch.path() };
    velmo::test::ScopedEnv provider { "VELMO_AUTH_URL", listenSilently() };
    std::shared_ptr<FileCredentialStore> sessions
        = std::make_shared<FileCredentialStore>(scratch.filePath("session.json").toStdString());
    std::unique_ptr<AppContainer> container;
};

class FormScene : public FormFixture, public velmo::test::QuickScene {
public:
    FormScene() { settleFor = 500ms; }
    ~FormScene() { unload(); } // its scene reads the model

    void show()
    {
        SettingsModel::Options options;
        options.launchAtLogin = launchAtLogin();
        options.version = "1.2 (34)";
        model = std::make_unique<SettingsModel>(*container, std::move(options));
        model->setOnScreen(true);
        load("qrc:/Velmo/Settings/SettingsForm.qml", { { "settings", QVariant::fromValue(model.get()) } });
    }

    std::unique_ptr<SettingsModel> model;
};

TEST(SettingsForm, EachSignInStateShowsItsRowsAndButtons)
{
    struct Case {
        const char* name;
        std::function<void(FormScene&)> setUp;
        QString source, cli, signIn, note;
        bool masked, cancel, signOut, refresh;
    };
    const QString none = "Not signed in", button = "Sign in with Browser", browser = "Browser sign-in";
    for (const Case& c : std::initializer_list<Case> {
             { "signed out", [](auto&) {}, none, none, button, "", false, false, false, false },
             { "browser", [](auto& t) { t.signInWithBrowser(); }, browser, none, button, "", true, false, true, true },
             { "CLI", [](auto& t) { t.signInWithCLI(); }, "velmo CLI (~/.velmo/tokens.json)", "In use", button, "", true, false, false, true },
             { "browser with the CLI also signed in", [](auto& t) { t.signInWithCLI(); t.signInWithBrowser(); }, browser, "Signed in", button, "", true, false, true, true },
             { "signing in again", [](auto& t) { t.signInWithBrowser(); t.container->login().signIn(); }, browser, none, "Waiting for browser…", "", true, true, true, true },
             { "rejected", [](auto& t) { t.signInWithBrowser(); t.refresh(); }, browser, none, button, "Credential rejected: Invalid token", true, false, true, true },
             { "expired", [](auto& t) { t.signInWithBrowser(30s); }, browser, none, button, "Session expired — sign in again", true, false, true, true },
         }) {
        SCOPED_TRACE(c.name);
        FormScene t;
        c.setUp(t);
        t.show();
        EXPECT_EQ(t.text("credentialSource"), c.source);
        EXPECT_EQ(t.shown("maskedToken"), c.masked);
        if (c.masked) {
            EXPECT_TRUE(t.text("maskedToken").startsWith("vat_…")) << t.text("maskedToken").toStdString();
        }
        EXPECT_TRUE(t.text("cliStatus").contains(c.cli)) << t.text("cliStatus").toStdString();
        EXPECT_EQ(t.text("signInButton"), c.signIn);
        EXPECT_EQ(t.enabled("signInButton"), !c.cancel);
        EXPECT_EQ(t.shown("cancelButton"), c.cancel);
        EXPECT_EQ(t.shown("signOutButton"), c.signOut);
        EXPECT_EQ(t.enabled("refreshButton"), c.refresh);
        EXPECT_EQ(t.shown("statusNote"), !c.note.isEmpty());
        EXPECT_EQ(t.model->account()->note(), c.note);
        EXPECT_EQ(t.text("sessionStorage"), "File " + t.scratch.filePath("session.json"));
    }
}

// One walk through the rest of the form: the fixed rows, the menu bar style,
// the updates section while the updater is active, and a cancelled sign-in.
TEST(SettingsForm, TheRestOfTheFormInOneWalk)
{
    FormScene t;
    t.signInWithBrowser();
    t.show();
    EXPECT_EQ(t.text("lastUpdate"), "Never");
    EXPECT_FALSE(t.enabled("launchSwitch"));
    EXPECT_EQ(t.item("launchRow")->property("subtitle").toString(), "Available when running from an installed copy.");
    EXPECT_EQ(t.text("version"), "1.2 (34)");
    EXPECT_EQ(t.item("baseURLField")->property("placeholderText").toString(), VelmoClient::productionBaseURL().toString());

    QQuickItem* chosen = t.item("chosenSegment");
    const double accountX = chosen->x();
    EXPECT_EQ(t.model->menuBar()->styles(), QStringList({ "Icon only", "Account balance" }));
    t.model->menuBar()->select(0);
    t.settle();
    EXPECT_EQ(t.container->settings().menuBarStyle(), SettingsStore::MenuBarStyle::iconOnly);
    EXPECT_LT(chosen->x(), accountX);

    EXPECT_FALSE(t.shown("updatesSection"));
    const double without = t.root->implicitHeight();
    t.model->updates()->update(true, true, false);
    t.settle();
    EXPECT_TRUE(t.shown("updatesSection"));
    EXPECT_GT(t.root->implicitHeight(), without + 80);
    EXPECT_TRUE(t.item("automaticSwitch")->property("checked").toBool());
    EXPECT_FALSE(t.enabled("checkButton"));
    t.model->updates()->update(true, false, true);
    t.settle();
    EXPECT_FALSE(t.item("automaticSwitch")->property("checked").toBool());
    EXPECT_TRUE(t.enabled("checkButton"));

    t.container->login().signIn();
    t.settle();
    ASSERT_TRUE(t.shown("cancelButton"));
    t.model->account()->cancel();
    t.settle();
    EXPECT_FALSE(t.shown("cancelButton"));
    EXPECT_TRUE(t.enabled("signInButton"));
    EXPECT_EQ(t.text("signInButton"), "Sign in with Browser");
}

// The real window on the offscreen platform, used from the keyboard.
class SettingsWindowTest : public ::testing::Test, public FormFixture {
protected:
    static void SetUpTestSuite() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    QQuickItem* item(const char* name) const
    {
        return window.window()->contentItem()->findChild<QQuickItem*>(name);
    }

    void showAndFocusField()
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.window()));
        QQuickItem* field = item("baseURLField");
        ASSERT_TRUE(field);
        field->forceActiveFocus();
        ASSERT_TRUE(field->hasActiveFocus());
    }

    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(window.window(), key, modifiers);
    }

    void type(const QString& text)
    {
        for (const QChar c : text)
            QTest::keyClick(window.window(), c.toLatin1());
    }

    SettingsWindow window { *container };
};

TEST_F(SettingsWindowTest, AFixedNormalWindowKeptAcrossCloses)
{
    EXPECT_EQ(window.window(), nullptr);
    window.show();
    QQuickWindow* first = window.window();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->title(), "Velmo Usage Settings");
    EXPECT_EQ(first->size(), QSize(440, 520));
    EXPECT_EQ(first->minimumSize(), first->maximumSize());
    EXPECT_EQ(first->flags() & Qt::WindowType_Mask, Qt::Window);
    EXPECT_FALSE(first->flags() & Qt::WindowMaximizeButtonHint);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first));
    // More than 520 points of form: it scrolls.
    QQuickItem* scroller = item("scroller");
    EXPECT_GT(scroller->property("contentHeight").toDouble(), 520);

    key(Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(first->isVisible());
    window.show();
    EXPECT_EQ(window.window(), first);
    EXPECT_TRUE(first->isVisible());
}

TEST_F(SettingsWindowTest, EditingKeysReturnAndApplyAndTheDraftComingBackFromTheStore)
{
    showAndFocusField();
    SettingsStore& settings = container->settings();
    AdvancedModel* advanced = window.model()->advanced();
    QSignalSpy clients(&container->store(), &UsageStore::clientChanged);

    type("https://old.test");
    key(Qt::Key_A, Qt::ControlModifier);
    type("http://127.0.0.1:8787");
    key(Qt::Key_Left, Qt::ShiftModifier);
    key(Qt::Key_Backspace);
    EXPECT_EQ(advanced->draft(), "http://127.0.0.1:878");
    EXPECT_TRUE(item("applyButton")->isEnabled());

    key(Qt::Key_Return);
    EXPECT_EQ(settings.baseURLOverride(), "http://127.0.0.1:878");
    EXPECT_EQ(clients.count(), 1);
    EXPECT_FALSE(item("applyButton")->isEnabled());
    key(Qt::Key_Return); // unchanged: still applies
    EXPECT_EQ(clients.count(), 2);

    // An edit left unapplied gives way to the stored value on the next showing.
    type("0");
    EXPECT_TRUE(item("applyButton")->isEnabled());
    key(Qt::Key_W, Qt::ControlModifier);
    settings.setBaseURLOverride("https://api.example");
    window.show();
    EXPECT_EQ(advanced->draft(), "https://api.example");
    EXPECT_EQ(item("baseURLField")->property("text").toString(), "https://api.example");
    EXPECT_FALSE(item("applyButton")->isEnabled());
    QSignalSpy quit(&window, &SettingsWindow::quitRequested);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.window()));
    key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quit.count(), 1);
}

} // namespace
