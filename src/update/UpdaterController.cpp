#include "UpdaterController.h"

#include "Appcast.h"
#include "AsyncTask.h"
#include "BootClockTimer.h"
#include "Cancellation.h"
#include "Log.h"
#include "UpdateError.h"
#include "UpdateTransfer.h"
#include "UpdateWindow.h"

#include <QApplication>
#include <QCoroTask>
#include <QSettings>

namespace {

const QString automaticKey = QStringLiteral("automaticallyChecksForUpdates");

// Drops a timer that may be the one calling us right now.
void retire(std::unique_ptr<QObject>& timer)
{
    if (timer)
        timer.release()->deleteLater();
}

} // namespace

UpdaterController::UpdaterController(QSettings* defaults, QObject* parent)
    : UpdaterController(
        defaults, UpdateConfiguration::fromBuild(),
        [](std::chrono::milliseconds timeout, std::function<void()> fire) -> std::unique_ptr<QObject> {
            return std::make_unique<BootClockTimer>(timeout, std::move(fire));
        },
        parent)
{
}

UpdaterController::UpdaterController(
    QSettings* defaults, UpdateConfiguration configuration, TimerFactory timers, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_configuration(std::move(configuration))
    , m_timers(std::move(timers))
    , m_presenter([](UpdateSession& session) {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()))
            UpdateWindow::present(session);
    })
{
    // Absent or not a boolean means on.
    const QVariant stored = m_defaults ? m_defaults->value(automaticKey) : QVariant();
    if (stored.typeId() == QMetaType::Bool)
        m_automaticallyChecks = stored.toBool();
    else if (stored.typeId() == QMetaType::QString && stored.toString() == QLatin1String("false"))
        m_automaticallyChecks = false;
}

UpdaterController::~UpdaterController()
{
    if (m_probe)
        m_probe->request_stop();
    delete m_session;
}

void UpdaterController::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (m_defaults) {
        m_defaults->setValue(automaticKey, enabled);
        m_defaults->sync();
    }
    if (std::exchange(m_automaticallyChecks, enabled) != enabled)
        emit automaticallyChecksForUpdatesChanged();
    if (m_isActive)
        scheduleProbes();
}

void UpdaterController::start()
{
    if (m_isActive)
        return;
    if (!m_configuration.isUsable()) {
        qCInfo(Log::updates, "updater disabled: no SUFeedURL/SUPublicEDKey (unbundled or dev build)");
        return;
    }
    m_isActive = true;
    emit isActiveChanged();
    updateCanCheck();
    scheduleProbes();
    qCInfo(Log::updates, "started (feed: %s, automatic: %s)", qUtf8Printable(m_configuration.feedURL),
        m_automaticallyChecks ? "true" : "false");
}

void UpdaterController::stop()
{
    retire(m_probeTimer);
    cancelProbe();
}

void UpdaterController::cancelProbe()
{
    if (!m_probe)
        return;
    m_probe->request_stop();
    m_probe.reset();
    updateCanCheck();
}

void UpdaterController::scheduleProbes()
{
    retire(m_probeTimer);
    if (m_automaticallyChecks)
        armProbeTimer(firstProbeDelay);
}

void UpdaterController::armProbeTimer(std::chrono::seconds delay)
{
    // The timer belongs to us, so it dies with us: no probe after that.
    m_probeTimer = m_timers(delay, [this] {
        retire(m_probeTimer);
        probe();
        armProbeTimer(checkInterval);
    });
}

void UpdaterController::probe()
{
    // An open window is a check of its own; the next hour will do.
    if (!m_isActive || m_probe || m_session)
        return;
    qCDebug(Log::updates, "probing feed");
    m_probe.emplace();
    updateCanCheck();
    startDetached(runProbe(m_probe->get_token()));
}

QCoro::Task<> UpdaterController::runProbe(std::stop_token stop)
{
    QPointer<UpdaterController> self(this);
    std::optional<AppcastItem> found;
    QString error;
    try {
        auto fetch = UpdateTransfer::fetchFeed(QUrl(m_configuration.feedURL), stop);
        const QByteArray feed = co_await std::move(fetch);
        if (!self || stop.stop_requested())
            co_return;
        const QString skipped = m_defaults
            ? m_defaults->value(QLatin1String(UpdateSession::skippedVersionKey)).toString()
            : QString();
        found = Appcast::newestUpdate(Appcast::parse(feed), m_configuration.runningVersion, skipped);
    } catch (const CancellationError&) {
        co_return;
    } catch (const UpdateError& e) {
        error = e.message();
    }
    if (!self || stop.stop_requested())
        co_return;
    m_probe.reset();
    updateCanCheck();
    if (!error.isEmpty()) {
        // The banner keeps what it showed: a failed probe knows nothing new.
        qCCritical(Log::updates, "check/download failed: %s", qUtf8Printable(error));
    } else if (found) {
        setAvailableUpdateVersion(found->displayVersion);
        qCInfo(
            Log::updates, "probe found %s; showing in-panel banner", qUtf8Printable(found->displayVersion));
        qCInfo(Log::updates, "check finished");
    } else {
        setAvailableUpdateVersion(QString());
        qCInfo(Log::updates, "check finished: up to date");
    }
    emit probeFinished();
}

void UpdaterController::setAvailableUpdateVersion(const QString& version)
{
    if (m_availableUpdateVersion == version)
        return;
    m_availableUpdateVersion = version;
    emit availableUpdateVersionChanged();
}

void UpdaterController::checkForUpdates()
{
    if (!m_isActive)
        return;
    if (m_session) {
        emit m_session->raiseRequested();
        return;
    }
    // The window's check supersedes a probe in flight.
    cancelProbe();
    m_session = new UpdateSession(m_configuration, m_defaults, UpdateSession::Platform::system(), this);
    // The window takes over from the banner.
    connect(
        m_session, &UpdateSession::willShowUpdate, this, [this] { setAvailableUpdateVersion(QString()); });
    connect(m_session, &UpdateSession::finished, this, &UpdaterController::sessionFinished);
    updateCanCheck();
    if (m_presenter)
        m_presenter(*m_session);
    m_session->start();
}

void UpdaterController::sessionFinished(UpdateSession::Outcome outcome, const QString& error)
{
    switch (outcome) {
    case UpdateSession::Outcome::Finished:
        qCInfo(Log::updates, "check finished");
        break;
    case UpdateSession::Outcome::UpToDate:
        qCInfo(Log::updates, "check finished: up to date");
        break;
    case UpdateSession::Outcome::Canceled:
        qCInfo(Log::updates, "check finished: user canceled");
        break;
    case UpdateSession::Outcome::Failed:
        qCCritical(Log::updates, "check/download failed: %s", qUtf8Printable(error));
        break;
    }
    if (m_session)
        m_session->deleteLater();
    m_session = nullptr;
    updateCanCheck();
}

void UpdaterController::installAvailableUpdate()
{
    checkForUpdates();
}

void UpdaterController::dismissAvailableUpdate()
{
    setAvailableUpdateVersion(QString());
}

void UpdaterController::updateCanCheck()
{
    const bool can = m_isActive && !m_probe && !m_session;
    if (std::exchange(m_canCheckForUpdates, can) != can)
        emit canCheckForUpdatesChanged();
}
