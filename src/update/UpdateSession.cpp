#include "UpdateSession.h"

#include "AppImageInstaller.h"
#include "AsyncTask.h"
#include "Cancellation.h"
#include "Log.h"
#include "UpdateError.h"
#include "UpdateSignature.h"
#include "UpdateTransfer.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLocale>
#include <QPointer>
#include <QProcess>
#include <QSettings>

#include <algorithm>

UpdateSession::Platform UpdateSession::Platform::system()
{
    return {
        .openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); },
        .relaunch =
            [](const QString& appImagePath) {
                // Quit only once the new copy runs; otherwise stay.
                if (QProcess::startDetached(appImagePath, QCoreApplication::arguments().mid(1)))
                    QCoreApplication::quit();
                else
                    qCCritical(Log::updates, "check/download failed: %s",
                        qUtf8Printable(QStringLiteral("could not start %1").arg(appImagePath)));
            },
    };
}

UpdateSession::UpdateSession(
    UpdateConfiguration configuration, QSettings* defaults, Platform platform, QObject* parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_defaults(defaults)
    , m_platform(std::move(platform))
{
}

UpdateSession::~UpdateSession()
{
    // A check or download still running ends (and removes its file).
    m_stop.request_stop();
}

void UpdateSession::start()
{
    startDetached(check(m_stop.get_token()));
}

QString UpdateSession::headline() const
{
    switch (m_state) {
    case State::Checking:
        return tr("Checking for updates…");
    case State::UpdateAvailable:
        return tr("A new version of Velmo Usage is available!");
    case State::UpToDate:
        return tr("You’re up to date!");
    case State::Downloading:
        return tr("Downloading Velmo Usage %1…").arg(m_update->displayVersion);
    case State::Installed:
        return tr("Velmo Usage %1 is installed.").arg(m_update->displayVersion);
    case State::Failed:
        return tr("Update Error!");
    }
    return {};
}

QString UpdateSession::message() const
{
    switch (m_state) {
    case State::UpdateAvailable:
        return tr("Velmo Usage %1 is now available—you have %2. Would you like to download it now?")
            .arg(m_update->displayVersion, m_configuration.displayVersion);
    case State::UpToDate:
        return tr("Velmo Usage %1 is currently the newest version available.")
            .arg(m_configuration.displayVersion);
    case State::Installed:
        return tr("Relaunch Velmo Usage to start using the new version.");
    case State::Failed:
        return m_error;
    default:
        return {};
    }
}

QString UpdateSession::releaseNotes() const
{
    return m_state == State::UpdateAvailable ? m_update->releaseNotes : QString();
}

QString UpdateSession::progressText() const
{
    if (m_state != State::Downloading)
        return {};
    const QLocale locale;
    const QString received = locale.formattedDataSize(m_received);
    return m_expected > 0 ? tr("%1 of %2").arg(received, locale.formattedDataSize(m_expected)) : received;
}

QList<UpdateSession::Button> UpdateSession::buttons() const
{
    switch (m_state) {
    case State::Checking:
    case State::Downloading:
        return { { Action::Cancel, tr("Cancel") } };
    case State::UpdateAvailable: {
        QList<Button> row { { Action::SkipVersion, tr("Skip This Version") } };
        if (!m_update->releaseNotesLink.isEmpty())
            row.append({ Action::ReleaseNotes, tr("Release Notes…") });
        row.append({ Action::RemindLater, tr("Remind Me Later") });
        // Only an AppImage can put a new version in place of itself.
        if (AppImageInstaller::canReplace(m_configuration.appImagePath))
            row.append({ Action::Install, tr("Install Update"), true });
        else
            row.append({ Action::OpenDownloadPage, tr("Open Download Page"), true });
        return row;
    }
    case State::Installed:
        return { { Action::Later, tr("Later") }, { Action::Relaunch, tr("Relaunch"), true } };
    case State::UpToDate:
    case State::Failed:
        return { { Action::Done, tr("OK"), true } };
    }
    return {};
}

void UpdateSession::trigger(Action action)
{
    const QList<Button> offered = buttons();
    if (m_finished || std::none_of(offered.begin(), offered.end(), [action](const Button& b) {
            return b.action == action;
        }))
        return;
    switch (action) {
    case Action::Install:
        setState(State::Downloading);
        startDetached(download(m_stop.get_token()));
        return;
    case Action::OpenDownloadPage:
        m_platform.openURL(m_update->link.isEmpty() ? m_update->enclosureURL : m_update->link);
        finish(Outcome::Finished);
        return;
    case Action::SkipVersion:
        if (m_defaults) {
            m_defaults->setValue(QLatin1String(skippedVersionKey), m_update->version);
            m_defaults->sync();
        }
        finish(Outcome::Finished);
        return;
    case Action::ReleaseNotes:
        m_platform.openURL(m_update->releaseNotesLink);
        return;
    case Action::Cancel:
        finish(Outcome::Canceled);
        return;
    case Action::Relaunch:
        finish(Outcome::Finished);
        m_platform.relaunch(m_configuration.appImagePath);
        return;
    case Action::RemindLater:
    case Action::Later:
        finish(Outcome::Finished);
        return;
    case Action::Done:
        finish(m_state == State::Failed ? Outcome::Failed : Outcome::UpToDate);
        return;
    }
}

void UpdateSession::close()
{
    switch (m_state) {
    case State::Checking:
    case State::Downloading:
        trigger(Action::Cancel);
        break;
    case State::UpdateAvailable:
        trigger(Action::RemindLater);
        break;
    case State::Installed:
        trigger(Action::Later);
        break;
    case State::UpToDate:
    case State::Failed:
        trigger(Action::Done);
        break;
    }
}

QCoro::Task<> UpdateSession::check(std::stop_token stop)
{
    QPointer<UpdateSession> self(this);
    std::optional<AppcastItem> found;
    try {
        auto fetch = UpdateTransfer::fetchFeed(QUrl(m_configuration.feedURL), stop);
        const QByteArray feed = co_await std::move(fetch);
        if (!self || stop.stop_requested())
            co_return;
        // A skipped version is offered all the same: the user asked.
        found = Appcast::newestUpdate(Appcast::parse(feed), m_configuration.runningVersion, QString());
    } catch (const CancellationError&) {
        co_return;
    } catch (const UpdateError& e) {
        if (self && !stop.stop_requested())
            fail(e.message());
        co_return;
    }
    m_update = std::move(found);
    if (m_update)
        emit willShowUpdate();
    setState(m_update ? State::UpdateAvailable : State::UpToDate);
}

QCoro::Task<> UpdateSession::download(std::stop_token stop)
{
    QPointer<UpdateSession> self(this);
    const AppcastItem item = *m_update;
    const QByteArray publicKey = m_configuration.publicKey.toLatin1();
    setProgress(0, item.enclosureLength > 0 ? item.enclosureLength : -1);
    try {
        // Nothing unsigned is even fetched.
        if (item.edSignature.isEmpty())
            throw UpdateError::improperlySigned();
        // Removes its scratch file on every way out but a successful install.
        AppImageInstaller installer(m_configuration.appImagePath);
        auto transfer = UpdateTransfer::download(
            item.enclosureURL, &installer.scratch(), item.enclosureLength,
            [self](qint64 received, qint64 expected) {
                if (self)
                    self->setProgress(received, expected);
            },
            stop);
        co_await std::move(transfer);
        if (!self || stop.stop_requested())
            co_return;
        if (!installer.scratch().flush())
            throw UpdateError(tr("Could not save the update: %1").arg(installer.scratch().errorString()));
        UpdateSignature::verify(
            installer.scratch().fileName(), item.enclosureLength, item.edSignature, publicKey);
        installer.install();
    } catch (const CancellationError&) {
        co_return;
    } catch (const UpdateError& e) {
        if (self && !stop.stop_requested())
            fail(e.message());
        co_return;
    }
    setState(State::Installed);
}

void UpdateSession::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit changed();
}

void UpdateSession::setProgress(qint64 received, qint64 expected)
{
    m_received = received;
    m_expected = expected;
    emit progressChanged();
}

void UpdateSession::fail(const QString& error)
{
    m_error = error;
    m_state = State::Failed;
    emit changed();
}

void UpdateSession::finish(Outcome outcome)
{
    if (std::exchange(m_finished, true))
        return;
    m_stop.request_stop();
    emit finished(outcome, m_error);
}
