#include "HeadlessCommands.h"

#include "AppContainer.h"
#include "AsyncTask.h"
#include "Credential.h"
#include "HeadlessItem.h"
#include "LineWriter.h"
#include "QtNetworkTransport.h"
#include "RefreshTriggers.h"
#include "SafeText.h"
#include "SessionStorage.h"
#include "UnixSignalNotifier.h"
#include "WaybarRunner.h"

#include <QCoreApplication>
#include <QPointer>
#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace HeadlessCommands {

namespace {

// stop() aborts the requests in flight; if the loop has still not ended
// after this, the container is torn down anyway.
constexpr std::chrono::milliseconds stopGracePeriod { 500 };

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

// The cache, the credential, one refresh, then the line: 0 when the refresh
// succeeded, else 1 with the reason on standard error (the line is still
// printed: it says what the status bar would show).
QCoro::Task<int> refreshAndPrint(QPointer<AppContainer> container, bool text, std::stop_token stop)
{
    UsageStore& store = container->store();
    store.loadCache();
    store.reloadCredential();
    auto refresh = store.refresh(stop);
    co_await std::move(refresh);
    if (!container || stop.stop_requested())
        co_return 1;
    const ItemInputs inputs
        = HeadlessItem::terminalInputs(store, HeadlessItem::itemStyle(container->settings().menuBarStyle()));
    // A reader that went away (`| head -0`) is not our failure.
    if (text) {
        const std::string lines = HeadlessItem::tooltipText(inputs);
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        std::fflush(stdout);
    } else {
        LineWriter(stdout).write(HeadlessItem::waybarJSON(inputs));
    }
    if (inputs.status.kind == ItemStatus::Kind::ok)
        co_return 0;
    const std::vector<std::string> lines = StatusItemModel::tooltipLines(inputs);
    printError(QString::fromStdString(SafeText::clean(lines.back())));
    co_return 1;
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
        // stop() aborts a refresh in flight; the loop then ends at once. A
        // hung server or a renewal must not keep us alive past the grace period.
        QObject::connect(container.get(), &AppContainer::stopped, [&] { QTimer::singleShot(0, tearDown); });
        container->stop();
        QTimer::singleShot(stopGracePeriod, tearDown);
    };
    QObject::connect(&signalNotifier, &UnixSignalNotifier::received, [&](int signalNumber) {
        if (signalNumber != SIGUSR1) {
            finish();
        } else if (!stopping) {
            container->refreshNow();
        }
    });
    QObject::connect(runner.get(), &WaybarRunner::outputClosed, [&] { QTimer::singleShot(0, finish); });
    // After a resume or when the network returns, like SIGUSR1.
    RefreshTriggers triggers(store, [&] {
        if (container && !stopping)
            container->refreshNow();
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
    UnixSignalNotifier signalNotifier { SIGTERM, SIGINT };
    std::stop_source stop;
    QObject::connect(&signalNotifier, &UnixSignalNotifier::received, [&](int) {
        // The refresh's requests are aborted; its task then ends at once.
        stop.request_stop();
        printError(QStringLiteral("Cancelled"));
        QTimer::singleShot(stopGracePeriod, [] { QCoreApplication::exit(1); });
    });
    QTimer::singleShot(0, [&] {
        // Whatever fails is said, and the status says it failed.
        auto failed = [](std::exception_ptr error) {
            QString reason = QStringLiteral("unknown failure");
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& failure) {
                reason = SafeText::clean(QString::fromUtf8(failure.what()));
            } catch (...) {
            }
            printError(QStringLiteral("velmo-usage: ") + reason);
            QCoreApplication::exit(1);
        };
        startDetached(
            [](QPointer<AppContainer> target, bool asText, std::stop_token token) -> QCoro::Task<> {
                auto run = refreshAndPrint(target, asText, token);
                const int status = co_await std::move(run);
                QCoreApplication::exit(status);
            }(container.get(), text, stop.get_token()),
            failed);
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
