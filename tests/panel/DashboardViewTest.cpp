// The dashboard's QML, loaded offscreen for each state the store can be in,
// probed at a few pixels and sizes. Any QML warning fails the test.
#include "DashboardModel.h"
#include "DemoAccount.h"
#include "DesktopAppearance.h"
#include "InMemoryCredentialStore.h"
#include "AsyncWait.h"
#include "FakeHTTPTransport.h"
#include "QuickScene.h"
#include "TestSupport.h"
#include "UpdaterController.h"
#include "UsageStore.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using velmo::devserver::DemoAccount;

using velmo::test::QuickScene;

class PanelScene : public QuickScene {
public:
    PanelScene()
    {
        HTTPClient http(transport, 1, 0.0, 5.0);
        store = std::make_unique<UsageStore>(VelmoClient(QUrl("https://api.test"), http),
            CredentialResolver(sessions, CLICredentialReader(scratch.filePath("home").toStdString())),
            std::nullopt);
        store->setNow([this] { return clock; });
    }

    ~PanelScene() { unload(); } // its scene reads the model

    void signIn(std::chrono::seconds lifetime = 1h)
    {
        const auto expiry = std::chrono::duration_cast<std::chrono::milliseconds>((clock + lifetime).time_since_epoch());
        // An expiry counts only for a session that can be renewed; the short
        // one is never refreshed here, so nothing tries to renew it.
        const bool renewable = lifetime < 1min;
        sessions->save({ .accessToken = "vat_test",
            .refreshToken = renewable ? std::optional<std::string>("r") : std::nullopt,
            .expiresAt = static_cast<double>(expiry.count()),
            .clientId = renewable ? std::optional<std::string>("c") : std::nullopt });
        store->reloadCredential();
        store->setNextRefreshAt(clock + 14min);
    }

    // The demo account, fetched `age` ago, with a day of no spend.
    void cache(std::chrono::seconds age = 2min, std::int64_t accountMicros = -1)
    {
        const std::int64_t end = std::chrono::duration_cast<std::chrono::seconds>(clock.time_since_epoch()).count();
        Snapshot snapshot { VelmoJSON::Coder<Balance>::decode(DemoAccount::balance(clock)),
            VelmoJSON::Coder<UsageSummary>::decode(
                DemoAccount::usage(end - 30 * DemoAccount::secondsPerDay, end, "account")),
            clock - age };
        snapshot.usage->buckets[5].metrics.charged = MicrosUSD(0);
        if (accountMicros >= 0)
            snapshot.balance->accountBalance = snapshot.balance->availableBalance = MicrosUSD(accountMicros);
        store->setSnapshot(snapshot);
    }

    void refreshWith(int status)
    {
        transport->otherwise = HTTPResponse { status, "{\"error\":{\"message\":\"upstream down\"}}", {} };
        auto refresh = store->refresh();
        ASSERT_FALSE(velmo::test::waitForTask(std::move(refresh)).timedOut);
    }

    void show(bool reduceMotion = false)
    {
        DashboardActions actions;
        actions.resize = [this](QSizeF size) { sizes.push_back(size); };
        // The previous scene goes before its model.
        auto previous = std::exchange(model, std::make_unique<DashboardModel>(*store, &updater, actions, reduceMotion));
        load("qrc:/Velmo/Panel/DashboardView.qml", { { "dashboard", QVariant::fromValue(model.get()) } });
    }
    // The refresh's two requests wait until released.
    QCoro::Task<> heldRefresh()
    {
        transport->released = false;
        for (const char* path : { "/v1/credits/balance", "/v1/usage" })
            transport->respondTo(path, 500, "{}", true);
        return store->refresh();
    }

    // The badge dot's centre is drawn in `role`.
    void expectBadge(ColorRole role) const
    {
        QQuickItem* dot = item("badgeDot");
        ASSERT_TRUE(dot);
        const QColor centre = pixelAt(dot, { dot->width() / 2, dot->height() / 2 });
        EXPECT_TRUE(near(centre, onWindow(model->theme()->color(role)), 12)) << centre.name().toStdString();
    }

    // A translucent colour as it shows over the panel's background.
    QColor onWindow(const QColor& color) const
    {
        const QColor under = model->theme()->window();
        const float a = color.alphaF();
        return QColor::fromRgbF(color.redF() * a + under.redF() * (1 - a), color.greenF() * a + under.greenF() * (1 - a),
            color.blueF() * a + under.blueF() * (1 - a));
    }

    // Some pixel of the hero amount is solidly `color`.
    bool heroDrawnIn(const QColor& color) const
    {
        QQuickItem* hero = item("heroAmount");
        for (int y = 0; hero && y < hero->height(); ++y)
            for (int x = 0; x < hero->width(); ++x)
                if (near(pixelAt(hero, { x + 0.5, y + 0.5 }), color, 30))
                    return true;
        return false;
    }

    // The runs of bar colour along the chart's foot, and the drawn height of
    // the tallest bar and of bar `probe`.
    struct Bars { int runs = 0, tallest = 0, probed = 0; };
    Bars bars(int probe) const
    {
        QQuickItem* chart = item("dailyBars");
        const QColor background = model->theme()->window();
        auto drawn = [&](int x, int up) {
            return !near(pixelAt(chart, { x + 0.5, chart->height() - up - 0.5 }), background, 6);
        };
        const double slot = (chart->width() + 2) / 30;
        const int probeX = static_cast<int>(probe * slot + slot / 2 - 1);
        Bars result;
        bool inBar = false;
        for (int x = 0; x < chart->width(); ++x) {
            result.runs += drawn(x, 0) && !inBar;
            inBar = drawn(x, 0);
            int height = 0;
            while (height < chart->height() && drawn(x, height))
                ++height;
            result.tallest = std::max(result.tallest, height);
            if (x == probeX)
                result.probed = height;
        }
        return result;
    }

    velmo::test::ScratchDir scratch;
    std::shared_ptr<velmo::test::FakeHTTPTransport> transport = std::make_shared<velmo::test::FakeHTTPTransport>();
    std::shared_ptr<InMemoryCredentialStore> sessions = std::make_shared<InMemoryCredentialStore>();
    Timestamp clock = *VelmoJSON::parseDate("2025-06-01T12:00:00Z");
    std::unique_ptr<UsageStore> store;
    QSettings defaults { scratch.filePath("defaults.ini"), QSettings::IniFormat };
    UpdaterController updater { &defaults };
    std::unique_ptr<DashboardModel> model;
    std::vector<QSizeF> sizes;
};

// Each state the store can be in: an empty state instead of the data, or the
// data column with its loading or error line.
TEST(DashboardView, EachStateShowsItsContentBadgeAndHero)
{
    struct Case {
        const char* name;
        std::function<void(PanelScene&)> setUp;
        QString empty, detail; // an empty state's title and the start of its detail
        QString loading; // the data column: its loading line, or "" for the data
        bool errorLine;
        ColorRole badge, hero;
    };
    const ColorRole primary = ColorRole::primary;
    for (const Case& c : std::initializer_list<Case> {
             { "signed out over a cache", [](auto& t) { t.cache(); }, "Not signed in", "Sign in with your browser",
                 "", false, ColorRole::secondary, primary },
             { "expired", [](auto& t) { t.signIn(30s); }, "Session expired", "Sign in again in Settings", "", false, ColorRole::red, primary },
             { "rejected, no data", [](auto& t) { t.signIn(); t.refreshWith(401); }, "Credential rejected",
                 "upstream down", "", false, ColorRole::red, primary },
             { "loading", [](auto& t) { t.signIn(); }, "", "", "Loading…", false, ColorRole::green, primary },
             { "error, no data", [](auto& t) { t.signIn(); t.refreshWith(500); }, "", "", "upstream down", false, ColorRole::orange, primary },
             { "error under data, out of credit", [](auto& t) { t.signIn(); t.cache(2min, 0); t.refreshWith(500); },
                 "", "", "", true, ColorRole::orange, ColorRole::red },
             { "rejected with data", [](auto& t) { t.signIn(); t.cache(); t.refreshWith(401); }, "", "", "", true, ColorRole::red, primary },
             { "ok", [](auto& t) { t.signIn(); t.cache(); }, "", "", "", false, ColorRole::green, primary },
             { "ok but stale", [](auto& t) { t.signIn(); t.cache(1801s); }, "", "", "", false, ColorRole::orange, primary },
         }) {
        SCOPED_TRACE(c.name);
        PanelScene t;
        c.setUp(t);
        t.show();
        t.expectBadge(c.badge);
        ASSERT_EQ(t.shown("emptyState"), !c.empty.isEmpty());
        if (!c.empty.isEmpty()) {
            EXPECT_EQ(t.item("emptyState")->property("title").toString(), c.empty);
            EXPECT_TRUE(t.item("emptyState")->property("detail").toString().contains(c.detail));
            EXPECT_FALSE(t.shown("heroAmount"));
            continue;
        }
        EXPECT_EQ(t.shown("loadingText"), !c.loading.isEmpty());
        EXPECT_EQ(t.shown("errorLine"), c.errorLine);
        if (!c.loading.isEmpty()) {
            EXPECT_TRUE(t.item("loadingText")->property("text").toString().contains(c.loading));
            continue;
        }
        EXPECT_TRUE(t.heroDrawnIn(t.model->theme()->color(c.hero)));
        const auto bars = t.bars(5);
        EXPECT_EQ(bars.runs, 30); // one bar per day, 2 points apart
        EXPECT_NEAR(bars.tallest, 44, 1);
        EXPECT_NEAR(bars.probed, 2, 1); // the day without spend is a stub
    }
    // Data that arrives while the panel is open shows in full: the usage
    // section fades in and the chart gets a bar per day.
    PanelScene late;
    late.signIn();
    late.show();
    late.cache();
    late.settle();
    EXPECT_EQ(late.bars(5).runs, 30);
}

TEST(DashboardView, RefreshingSpinsOrDimsTheButtonAndSaysSo)
{
    PanelScene t;
    t.signIn();
    t.cache();
    for (const bool reduceMotion : { false, true }) {
        SCOPED_TRACE(reduceMotion);
        auto refresh = t.heldRefresh();
        t.show(reduceMotion);
        ASSERT_TRUE(t.store->isRefreshing());
        EXPECT_EQ(t.item("footerNext")->property("text").toString(), "Refreshing…");
        QQuickItem* button = t.item("refreshButton");
        EXPECT_FALSE(button->isEnabled());
        QQuickItem* icon = button->findChild<QQuickItem*>("icon");
        EXPECT_DOUBLE_EQ(icon->opacity(), reduceMotion ? 0.45 : 1.0);
        if (reduceMotion) {
            EXPECT_DOUBLE_EQ(icon->rotation(), 0.0);
        } else {
            EXPECT_NE(std::fmod(icon->rotation(), 360.0), 0.0);
        }
        t.transport->released = true;
        ASSERT_FALSE(velmo::test::waitForTask(std::move(refresh)).timedOut);
        t.settle();
        EXPECT_TRUE(button->isEnabled());
        EXPECT_EQ(t.item("footerNext")->property("text").toString(), "Next in 14m");
    }
}

TEST(DashboardView, TheBannerAddsItsHeightToTheReportedSize)
{
    PanelScene t;
    t.signIn();
    t.cache();
    t.show();
    ASSERT_FALSE(t.sizes.empty());
    const double without = t.sizes.back().height();
    EXPECT_EQ(t.sizes.back().width(), 320);
    EXPECT_DOUBLE_EQ(without, t.root->height());

    t.updater.setAvailableUpdateVersion("1.2.0");
    t.settle();
    QQuickItem* banner = t.item("banner");
    ASSERT_TRUE(banner->isVisible());
    EXPECT_GT(banner->height(), 30);
    EXPECT_DOUBLE_EQ(t.sizes.back().height(), without + banner->height());
    const QColor wash = t.pixelAt(banner, { 4, banner->height() / 2 });
    EXPECT_FALSE(QuickScene::near(wash, t.model->theme()->window(), 2)) << "no accent wash behind the banner";

    t.model->banner()->dismiss();
    t.settle();
    EXPECT_FALSE(banner->isVisible());
    EXPECT_DOUBLE_EQ(t.sizes.back().height(), without);
}

TEST(DashboardView, DarkPaletteGivesLightTextOnADarkPanel)
{
    PanelScene t;
    const QPalette original = QGuiApplication::palette();
    QGuiApplication::setPalette(DesktopAppearance::palette(DesktopAppearance::ColorScheme::dark));
    t.signIn();
    t.cache();
    t.show();
    QGuiApplication::setPalette(original);
    EXPECT_TRUE(t.heroDrawnIn(Qt::white));
    EXPECT_LT(t.pixelAt(t.root, { 160, t.root->height() - 4 }).lightness(), 60);
}

TEST(DashboardView, ModelSignalsRealChangesOnlyAndGuardsItsActions)
{
    PanelScene t;
    t.signIn();
    t.cache();
    int refreshes = 0, resizes = 0;
    DashboardActions actions { .refresh = [&] { ++refreshes; }, .resize = [&](QSizeF) { ++resizes; } };
    DashboardModel dashboard(*t.store, nullptr, actions, false);
    QSignalSpy badge(dashboard.badge(), &StatusBadgeModel::textChanged);
    QSignalSpy amount(dashboard.balance(), &BalanceModel::availableChanged);
    QSignalSpy plan(dashboard.balance()->plan(), &BalanceRowModel::valueChanged);
    dashboard.reevaluate();
    t.store->setNextRefreshAt(t.clock + 13min);
    t.cache(1801s); // the same figures, now stale
    EXPECT_EQ(badge.count(), 1);
    EXPECT_EQ(dashboard.badge()->text(), "Outdated");
    EXPECT_EQ(amount.count(), 0);
    EXPECT_EQ(plan.count(), 0);
    // A closed panel does not tick; opening it catches the relative times up.
    t.clock += 10min;
    dashboard.setOnScreen(true);
    EXPECT_TRUE(dashboard.footer()->updated().contains("40m")) << dashboard.footer()->updated().toStdString();

    dashboard.resize(320, 400);
    dashboard.resize(320, 400);
    dashboard.resize(320, 401);
    EXPECT_EQ(resizes, 2);

    dashboard.refresh();
    auto refresh = t.heldRefresh();
    dashboard.refresh(); // ignored while one runs (Ctrl+R included)
    EXPECT_EQ(refreshes, 1);
    t.transport->released = true;
    ASSERT_FALSE(velmo::test::waitForTask(std::move(refresh)).timedOut);

    DailyBarsModel* bars = dashboard.usage()->bars();
    bars->enter(3);
    bars->enter(4);
    bars->leave(3); // the pointer moved on: bar 4 stays
    EXPECT_EQ(bars->hoveredIndex(), 4);
    EXPECT_TRUE(dashboard.usage()->readout().contains(" req"));
    bars->leave(4);
    EXPECT_EQ(bars->hoveredIndex(), -1);
    EXPECT_TRUE(dashboard.usage()->readout().isEmpty());
}

TEST(DesktopAppearance, TheEnvironmentDecidesReducedMotion)
{
    for (const auto& [value, reduce] : { std::pair { "1", true }, { "true", true }, { "0", false }, { "off", false } }) {
        qputenv("VELMO_REDUCE_MOTION", value);
        EXPECT_EQ(DesktopAppearance::reduceMotion(), reduce) << value;
    }
    qunsetenv("VELMO_REDUCE_MOTION");
    EXPECT_EQ(DesktopAppearance::parseSwitch("maybe"), std::nullopt);
}

} // namespace

