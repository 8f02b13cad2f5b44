#include "AppDelegate.h"

#include "AppContainer.h"
#include "DesktopAppearance.h"
#include "DesktopNotifier.h"
#include "Log.h"
#include "QtNetworkTransport.h"
#include "RefreshTriggers.h"
#include "SessionStorage.h"
#include "SingleInstance.h"
#include "UnixSignalNotifier.h"
#include "UsageAlerts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QQuickWindow>
#include <QSettings>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

// How long a quit waits for the container to wind down.
constexpr std::chrono::seconds stopGracePeriod { 10 };

} // namespace

AppDelegate::AppDelegate(Options options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
{
}

AppDelegate::~AppDelegate()
{
    // The item (and its windows) read the container: they go first.
    m_triggers.reset();
    m_alerts.reset();
    m_notifier.reset();
    m_statusItem.reset();
    m_container.reset();
}

void AppDelegate::start()
{
    if (m_container)
        return;
    qCInfo(Log::app, "Velmo Usage starting");

    auto settings = std::make_unique<SettingsStore>(
        m_options.defaults ? std::move(m_options.defaults) : SettingsStore::standardDefaults());
    std::shared_ptr<CredentialStoring> credentials = m_options.credentialStore;
    if (!credentials)
        credentials = SessionStorage::platformDefault().store;
    AppContainer::Options containerOptions;
    containerOptions.openBrowser = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!m_options.removeLegacyAPIKey)
        containerOptions.removeLegacyAPIKey = {};
    m_container = std::make_unique<AppContainer>(
        std::move(settings), std::move(credentials), SnapshotCache::defaultCache(), std::move(containerOptions));

    m_statusItem = std::make_unique<StatusItemController>(*m_container, m_options.item);
    connect(m_statusItem.get(), &StatusItemController::quitRequested, this, &AppDelegate::quit);

    if (m_options.desktopIntegration) {
        m_notifier = std::make_unique<DesktopNotifier>();
        m_alerts = std::make_unique<UsageAlerts>(m_container->store(), m_container->settings(), *m_notifier);
        connect(m_notifier.get(), &DesktopNotifier::openPanelRequested, m_statusItem.get(),
            &StatusItemController::showPanel);
        connect(m_notifier.get(), &DesktopNotifier::openSettingsRequested, m_statusItem.get(),
            &StatusItemController::showSettings);
        m_triggers = std::make_unique<RefreshTriggers>(
            m_container->store(), [container = m_container.get()] { container->refreshNow(); });
    }

    m_container->start();

    // The very first launch without a session opens the settings, once.
    SettingsStore& store = m_container->settings();
    if (!m_container->store().credential() && !store.hasCompletedOnboarding()) {
        store.setHasCompletedOnboarding(true);
        m_statusItem->showSettings();
    }
}

void AppDelegate::showSettings()
{
    if (m_statusItem)
        m_statusItem->showSettings();
}

void AppDelegate::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    if (!m_container) {
        QCoreApplication::exit(0);
        return;
    }
    auto exit = [] { QCoreApplication::exit(0); };
    connect(m_container.get(), &AppContainer::stopped, this, exit);
    // A hung request must not keep the process alive.
    QTimer::singleShot(stopGracePeriod, this, exit);
    m_container->stop();
}

int AppDelegate::run(int argc, char** argv)
{
    // Tray icons and the panel's placement need X11: under Wayland the app
    // runs on XWayland unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("velmo-usage: no display (DISPLAY and WAYLAND_DISPLAY are empty); the tray application needs "
                   "one. Without a display: velmo-usage --once, or --waybar for a status bar.\n",
            stderr);
        return 1;
    }
    // The panel is rectangles and text at 320 points wide: the software
    // renderer draws it within a frame and keeps a GL driver (about 100 MB
    // resident with Mesa, and its start-up on the first open) out of a process
    // that lives all day. QT_QUICK_BACKEND or QSG_RHI_BACKEND still choose.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") && qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmo-usage"));
    Log::installMessageHandler();
    // From the start: a SIGTERM during start-up still stops cleanly.
    UnixSignalNotifier unixSignals { SIGTERM, SIGINT };
    bool quitAtOnce = true;
    QObject::connect(&unixSignals, &UnixSignalNotifier::received, [&quitAtOnce] {
        if (quitAtOnce)
            QCoreApplication::exit(0);
    });

    SingleInstance instance;
    if (!instance.claim()) {
        if (instance.handOver())
            return 0;
        std::fputs("velmo-usage: another copy is running but did not answer\n", stderr);
        return 1;
    }
    DesktopAppearance::applyPreferredColorScheme();

    int status = 0;
    {
        Options options;
        options.item.reduceMotion = DesktopAppearance::reduceMotion();
        AppDelegate delegate(std::move(options));
        connect(&instance, &SingleInstance::showSettingsRequested, &delegate, &AppDelegate::showSettings);
        quitAtOnce = false;
        connect(&unixSignals, &UnixSignalNotifier::received, &delegate, &AppDelegate::quit);
        QTimer::singleShot(0, &delegate, &AppDelegate::start);
        status = QApplication::exec();
        quitAtOnce = true;
    }
    // Qt's network thread and deferred deletions wind down while the
    // application object still exists.
    QtNetworkTransport::releaseManager();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
