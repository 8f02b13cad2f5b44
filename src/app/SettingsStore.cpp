#include "SettingsStore.h"

#include "Log.h"
#include "PosixFile.h"
#include "VelmoClient.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {
const QString menuBarStyleKey = QStringLiteral("menuBarStyle");
const QString baseURLKey = QStringLiteral("baseURL");
const QString onboardingKey = QStringLiteral("hasCompletedOnboarding");
const QString notifiesLowBalanceKey = QStringLiteral("notifiesLowBalance");

// A hand-edited or foreign value reads as false unless it clearly says true.
bool readBool(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == QLatin1String("1");
    }
    return false;
}
} // namespace

SettingsStore::SettingsStore(std::unique_ptr<QSettings> defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
{
    const QVariant style = m_defaults->value(menuBarStyleKey);
    m_menuBarStyle = style.typeId() == QMetaType::QString && style.toString() == rawValue(MenuBarStyle::iconOnly)
        ? MenuBarStyle::iconOnly
        : MenuBarStyle::account;
    const QVariant base = m_defaults->value(baseURLKey);
    m_baseURLOverride = base.typeId() == QMetaType::QString ? base.toString() : QString();
    m_hasCompletedOnboarding = readBool(m_defaults->value(onboardingKey));
    // Missing means on; a stored value reads like the other flags.
    const QVariant notifies = m_defaults->value(notifiesLowBalanceKey);
    m_notifiesLowBalance = !notifies.isValid() || readBool(notifies);
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::standardFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/VelmoUsage/VelmoUsage.conf");
}

std::unique_ptr<QSettings> SettingsStore::standardDefaults()
{
    const QString path = standardFilePath();
    const QByteArray native = QFile::encodeName(path);
    struct stat info { };
    // QSettings reads the file as soon as it is built: a FIFO there would
    // block for ever, a device would be read without end.
    if (::stat(native.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        const QByteArray aside
            = native + ".invalid-" + QByteArray::fromStdString(PosixFile::uniqueName()).left(8);
        if (::rename(native.constData(), aside.constData()) != 0) {
            qCWarning(Log::app,
                "settings file %s is not a regular file and cannot be moved aside (%s); "
                "settings are not kept",
                native.constData(), std::strerror(errno));
            // No file at all: defaults in memory, writes go nowhere.
            return std::make_unique<QSettings>(QString(), QSettings::IniFormat);
        }
        qCWarning(Log::app,
            "settings file %s is not a regular file; moved it to %s and started with defaults",
            native.constData(), aside.constData());
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

void SettingsStore::setMenuBarStyle(MenuBarStyle style)
{
    m_defaults->setValue(menuBarStyleKey, rawValue(style));
    m_defaults->sync(); // on disk at once: a crash loses nothing
    if (std::exchange(m_menuBarStyle, style) != style)
        emit menuBarStyleChanged();
}

void SettingsStore::setBaseURLOverride(const QString& text)
{
    m_defaults->setValue(baseURLKey, text);
    m_defaults->sync(); // on disk at once: a crash loses nothing
    if (std::exchange(m_baseURLOverride, text) != text)
        emit baseURLOverrideChanged();
}

void SettingsStore::setHasCompletedOnboarding(bool done)
{
    m_defaults->setValue(onboardingKey, done);
    m_defaults->sync(); // on disk at once: a crash loses nothing
    if (std::exchange(m_hasCompletedOnboarding, done) != done)
        emit hasCompletedOnboardingChanged();
}

void SettingsStore::setNotifiesLowBalance(bool on)
{
    m_defaults->setValue(notifiesLowBalanceKey, on);
    m_defaults->sync(); // on disk at once: a crash loses nothing
    if (std::exchange(m_notifiesLowBalance, on) != on)
        emit notifiesLowBalanceChanged();
}

QUrl SettingsStore::baseURL() const
{
    const QString trimmed = m_baseURLOverride.trimmed();
    if (!trimmed.isEmpty()) {
        // "localhost:8080" parses with "localhost" as its scheme and is used as
        // it is; the API client reports what it cannot reach.
        const QUrl url(trimmed, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            return url;
    }
    return VelmoClient::productionBaseURL();
}

QString SettingsStore::rawValue(MenuBarStyle style)
{
    return style == MenuBarStyle::iconOnly ? QStringLiteral("iconOnly") : QStringLiteral("account");
}

QString SettingsStore::label(MenuBarStyle style)
{
    return style == MenuBarStyle::iconOnly ? QStringLiteral("Icon only") : QStringLiteral("Account balance");
}

std::optional<SettingsStore::MenuBarStyle> SettingsStore::menuBarStyleFromRawValue(const QString& raw)
{
    if (raw == QLatin1String("iconOnly"))
        return MenuBarStyle::iconOnly;
    if (raw == QLatin1String("account"))
        return MenuBarStyle::account;
    return std::nullopt;
}

std::vector<SettingsStore::MenuBarStyle> SettingsStore::allMenuBarStyles()
{
    return { MenuBarStyle::iconOnly, MenuBarStyle::account };
}
