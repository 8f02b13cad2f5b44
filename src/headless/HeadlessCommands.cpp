#include "HeadlessCommands.h"

#include "AppContainer.h"
#include "AsyncTask.h"
#include "Credential.h"
#include "HeadlessItem.h"
#include "LineWriter.h"
#include "QtNetworkTransport.h"
#include "RefreshTriggers.h"
#include "SessionStorage.h"
#include "UnixSignalNotifier.h"
#include "WaybarRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace HeadlessCommands {

namespace {

// How long a stop waits for a refresh in flight.
constexpr std::chrono::seconds stopGracePeriod { 10 };

std::unique_ptr<AppContainer> makeContainer(AppContainer::Options options)
{
    auto settings = std::make_unique<SettingsStore>(SettingsStore::standardDefaults());
    SessionStorage storage = SessionStorage::platformDefault();
    return std::make_unique<AppContainer>(
        std::move(settings), std::move(storage.store), SnapshotCache::defaultCache(), std::move(options));
}

// A one-shot command has no business with the legacy key cleanup.
AppContainer::Options oneShotOptions()
{
    AppContainer::Options options;
    options.removeLegacyAPIKey = {};
    return options;
}

void printError(const QString& text)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

// Lets Qt's network thread wind down and deferred deletions run while an
// event loop still exists, so nothing is left for ~QCoreApplication.
void windDown()
{
    QtNetworkTransport::releaseManager();
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs the application's event loop until `QCoreApplication::exit`, then
// winds down. Work must be started from the loop (a zero timer), so that an
// exit requested at once is not lost before exec() begins.
int runEventLoop()
{
    const int status = QCoreApplication::exec();
    windDown();
    return status;
}

QCoro::Task<> refreshAndPrint(AppContainer* container, bool text)
{
    UsageStore& store = container->store();
    store.loadCache();
    store.reloadCredential();
    auto refresh = store.refresh();
    co_await std::move(refresh);
    const ItemInputs inputs
        = HeadlessItem::inputs(store, HeadlessItem::itemStyle(container->settings().menuBarStyle()));
    // A reader that went away (`| head -0`) is not our failure: exit 0 anyway.
    if (text) {
        const std::string lines = HeadlessItem::tooltipText(inputs);
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        std::fflush(stdout);
    } else {
        LineWriter(stdout).write(HeadlessItem::waybarJSON(inputs));
    }
}

// Opens the sign-in page where a desktop session exists; on a remote shell
// the printed address is the way.
bool openInBrowser(const QUrl& url)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    return QProcess::startDetached(QStringLiteral("xdg-open"), { url.toString(QUrl::FullyEncoded) });
}

} // namespace

int waybar()
{
    LineWriter::ignoreBrokenPipe();
    LineWriter out(stdout);
    auto container = makeContainer({});
    UsageStore& store = container->store();
    auto runner = std::make_unique<WaybarRunner>(store, [&out](const std::string& line) { return out.write(line); });
    UnixSignalNotifier signalNotifier { SIGUSR1, SIGTERM, SIGINT };

    // The loop is between refreshes once it has set the next refresh time
    // and nobody has woken it since; otherwise a refresh is (or is about to be)
    // under way.
    bool wokenSinceScheduled = false;
    QObject::connect(&store, &UsageStore::nextRefreshAtChanged, [&] { wokenSinceScheduled = false; });
    auto refreshUnderWay = [&] {
        const auto& next = store.nextRefreshAt();
        return !next || wokenSinceScheduled || store.isRefreshing() || store.now() >= *next;
    };

    bool stopping = false;
    auto tearDown = [&] {
        if (!container)
            return;
        // Destroyed while the event loop runs, so the loop's wait ends with it.
        container.reset();
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    };
    auto finish = [&] {
        if (stopping)
            return;
        stopping = true;
        runner.reset();
        // stop() cancels a refresh in flight; the loop then ends at once.
        QObject::connect(container.get(), &AppContainer::stopped, [&] { QTimer::singleShot(0, tearDown); });
        container->stop();
        if (!refreshUnderWay()) {
            tearDown();
            return;
        }
        // A refresh in flight finishes first (it ends by scheduling the next
        // one), within a grace period: a hung server must not keep us alive.
        QObject::connect(&store, &UsageStore::nextRefreshAtChanged, [&] { QTimer::singleShot(0, tearDown); });
        QTimer::singleShot(stopGracePeriod, tearDown);
    };
    QObject::connect(&signalNotifier, &UnixSignalNotifier::received, [&](int signalNumber) {
        if (signalNumber != SIGUSR1) {
            finish();
        } else if (!stopping) {
            wokenSinceScheduled = true;
            container->refreshNow();
        }
    });
    QObject::connect(runner.get(), &WaybarRunner::outputClosed, [&] { QTimer::singleShot(0, finish); });
    // After a resume or when the network returns, like SIGUSR1.
    RefreshTriggers triggers(store, [&] {
        if (container && !stopping) {
            wokenSinceScheduled = true;
            container->refreshNow();
        }
    });

    QTimer::singleShot(0, [&] {
        if (stopping)
            return;
        // The first line shows the cache and the credential before the network answers.
        store.loadCache();
        store.reloadCredential();
        runner->start();
        container->start();
    });
    return runEventLoop();
}

int once(bool text)
{
    LineWriter::ignoreBrokenPipe();
    auto container = makeContainer(oneShotOptions());
    QTimer::singleShot(0, [&] {
        // refresh() never fails (its outcome is the store's state), so the
        // handler only makes sure the process ends whatever happens.
        auto exitAfter = [](std::exception_ptr) { QCoreApplication::exit(0); };
        startDetached(
            [](AppContainer* target, bool asText) -> QCoro::Task<> {
                auto run = refreshAndPrint(target, asText);
                co_await std::move(run);
                QCoreApplication::exit(0);
            }(container.get(), text),
            exitAfter);
    });
    const int status = runEventLoop();
    container.reset();
    return status;
}

int signIn()
{
    AppContainer::Options options = oneShotOptions();
    options.openBrowser = [](const QUrl& url) {
        std::fprintf(stderr, "To sign in, open this address in a browser:\n%s\n",
            url.toString(QUrl::FullyEncoded).toUtf8().constData());
        std::fflush(stderr);
        return openInBrowser(url);
    };
    auto container = makeContainer(std::move(options));
    LoginController& login = container->login();
    UnixSignalNotifier signalNotifier { SIGTERM, SIGINT };

    bool cancelled = false;
    QObject::connect(&signalNotifier, &UnixSignalNotifier::received, [&](int) {
        cancelled = true;
        login.cancel();
        printError(QStringLiteral("Sign-in cancelled"));
        QCoreApplication::exit(1);
    });
    QObject::connect(&login, &LoginController::isSigningInChanged, [&] {
        if (login.isSigningIn() || cancelled)
            return;
        // The controller publishes the error just after it stops signing in.
        QTimer::singleShot(0, [&] {
            if (login.errorMessage()) {
                printError(*login.errorMessage());
                QCoreApplication::exit(1);
                return;
            }
            std::string masked;
            try {
                if (auto tokens = container->credentialStore()->load())
                    masked = Credential::mask(tokens->accessToken);
            } catch (const std::exception& error) {
                printError(QStringLiteral("The new session cannot be read back: ") + QString::fromUtf8(error.what()));
                QCoreApplication::exit(1);
                return;
            }
            std::printf("Signed in (%s)\n", masked.c_str());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    });
    QTimer::singleShot(0, &login, &LoginController::signIn);
    const int status = runEventLoop();
    container.reset();
    return status;
}

int signOut()
{
    auto container = makeContainer(oneShotOptions());
    int status = 0;
    try {
        container->credentialStore()->remove();
    } catch (const std::exception& error) {
        // Reported, not swallowed: the user asked for exactly this.
        printError(QStringLiteral("Sign-out failed: ") + QString::fromUtf8(error.what()));
        status = 1;
    }
    if (status == 0) {
        container->signOut();
        std::printf("Signed out\n");
        std::fflush(stdout);
    }
    container.reset();
    windDown();
    return status;
}

} // namespace HeadlessCommands
