#include "LaunchAtLogin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <filesystem>
#include <map>

namespace {

const QString entryName = QStringLiteral("velmo-usage.desktop");
const QString binaryName = QStringLiteral("velmo-usage");
const QString mainGroup = QStringLiteral("[Desktop Entry]");

QString tr(const char* text)
{
    return QCoreApplication::translate("LaunchAtLogin", text);
}

// The keys of the [Desktop Entry] group, unlocalised, values as written.
std::map<QString, QString> readEntry(const QString& path)
{
    QFile file(path);
    std::map<QString, QString> keys;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inMain = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == mainGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMain || line.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        keys.emplace(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

// A desktop entry's string escapes: \s \n \t \r \\.
QString unescapeString(const QString& value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        const char16_t plain = next == u's' ? u' ' : next == u'n' ? u'\n' : next == u't' ? u'\t' : next == u'r' ? u'\r' : next.unicode();
        out += QChar(plain);
    }
    return out;
}

} // namespace

LaunchAtLogin::LaunchAtLogin(QString configHome, QString executable, QString appImage)
    : m_configHome(std::move(configHome))
    , m_executable(std::move(executable))
    , m_appImage(std::move(appImage))
{
}

LaunchAtLogin LaunchAtLogin::forThisProcess()
{
    return LaunchAtLogin(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
        QCoreApplication::applicationFilePath(), qEnvironmentVariable("APPIMAGE"));
}

QString LaunchAtLogin::entryPath() const
{
    return QDir(m_configHome).filePath(QStringLiteral("autostart/") + entryName);
}

const QString& LaunchAtLogin::program() const
{
    return m_appImage.isEmpty() ? m_executable : m_appImage;
}

bool LaunchAtLogin::isAvailable() const
{
    if (!m_appImage.isEmpty())
        return QFileInfo(m_appImage).isFile();
    return isInstalledCopy(m_executable);
}

bool LaunchAtLogin::isInstalledCopy(const QString& executable)
{
    const QFileInfo info(executable);
    const QString resolved = info.canonicalFilePath();
    QDir folder = QFileInfo(resolved.isEmpty() ? info.absoluteFilePath() : resolved).absoluteDir();
    if (folder.dirName() != QLatin1String("bin"))
        return false;
    do {
        if (folder.exists(QStringLiteral("CMakeCache.txt")))
            return false;
    } while (folder.cdUp());
    return true;
}

bool LaunchAtLogin::isEnabled() const
{
    const auto keys = readEntry(entryPath());
    const auto value = [&](const char* key) {
        const auto found = keys.find(QString::fromLatin1(key));
        return found == keys.end() ? QString() : found->second;
    };
    if (value("Hidden") == QLatin1String("true") || value("X-GNOME-Autostart-enabled") == QLatin1String("false"))
        return false;
    const QString started = execProgram(value("Exec"));
    return !started.isEmpty()
        && (started == program() || started == m_executable || QFileInfo(started).fileName() == binaryName);
}

void LaunchAtLogin::setEnabled(bool on) const
{
    const QString path = entryPath();
    if (!on) {
        QFile entry(path);
        if (QFileInfo(path).isFile() && !entry.remove())
            throw Error(tr("Could not remove %1: %2").arg(path, entry.errorString()).toStdString());
        return;
    }
    const QString folder = QFileInfo(path).absolutePath();
    std::error_code error;
    std::filesystem::create_directories(folder.toStdString(), error);
    if (error) {
        throw Error(tr("Could not create %1: %2").arg(folder, QString::fromStdString(error.message())).toStdString());
    }
    const QString text = mainGroup + QStringLiteral("\nType=Application\nName=Velmo Usage\n")
        + QStringLiteral("Comment=Velmo credit balance and usage in the tray\n") + QStringLiteral("Exec=")
        + execValue(program()) + QStringLiteral("\nIcon=velmo-usage\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(text.toUtf8()) < 0 || !entry.commit())
        throw Error(tr("Could not write %1: %2").arg(path, entry.errorString()).toStdString());
}

QString LaunchAtLogin::execValue(const QString& program)
{
    // Quoting as the desktop entry format asks, then its string escapes.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = program;
    if (std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted;
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    argument.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return argument;
}

QString LaunchAtLogin::execProgram(const QString& exec)
{
    const QString value = unescapeString(exec).trimmed();
    QString program;
    if (value.startsWith(QLatin1Char('"'))) {
        for (qsizetype i = 1; i < value.size() && value[i] != QLatin1Char('"'); ++i) {
            if (value[i] == QLatin1Char('\\') && i + 1 < value.size())
                ++i;
            program += value[i];
        }
    } else {
        program = value.section(QLatin1Char(' '), 0, 0);
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}
