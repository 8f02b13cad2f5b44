// The settings file, hand-edited or written by another version.
#include "SettingsStore.h"
#include "FuzzSupport.h"

#include <QFile>
#include <QSettings>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::ensureApplication();
    static const QString path = FuzzSupport::scratchFolder() + QStringLiteral("/VelmoUsage.conf");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            FuzzSupport::fail("cannot write the settings file");
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    SettingsStore store(std::make_unique<QSettings>(path, QSettings::IniFormat));
    const QUrl base = store.baseURL();
    if (!base.isValid() || base.scheme().isEmpty())
        FuzzSupport::fail("the effective base URL has no scheme");
    (void)SettingsStore::label(store.menuBarStyle());
    (void)store.hasCompletedOnboarding();
    return 0;
}
