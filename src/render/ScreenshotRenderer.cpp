#include "ScreenshotRenderer.h"

#include "AppContainer.h"
#include "DashboardModel.h"
#include "DesktopAppearance.h"
#include "InMemoryCredentialStore.h"
#include "MenuBarItemPreview.h"
#include "OffscreenQuickRenderer.h"
#include "SessionStorage.h"
#include "SettingsModel.h"

#include <QDir>
#include <QGuiApplication>
#include <QQuickItem>
#include <QSettings>

namespace {

constexpr std::chrono::seconds sessionLifetime { 3600 };

QString tr(const char* text)
{
    return QCoreApplication::translate("ScreenshotRenderer", text);
}

// The scene's root, or the renderer's first warning as the failure.
QImage grabScene(OffscreenQuickRenderer& renderer, QQuickItem* root, const char* what)
{
    if (!root) {
        throw ScreenshotRenderer::Error(tr("could not build the %1 view: %2")
                                            .arg(QString::fromLatin1(what),
                                                renderer.warnings().value(0, tr("unknown error")))
                                            .toStdString());
    }
    renderer.settle();
    return renderer.grab();
}

} // namespace

StoredTokens ScreenshotRenderer::placeholderSession(Timestamp now)
{
    using namespace std::chrono;
    const auto expiry = duration_cast<milliseconds>((now + sessionLifetime).time_since_epoch());
    return { .accessToken = "eyJhbGciOiJub25lIn0.eyJzdWIiOiJkZW1vIn0.c2",
        .refreshToken = "refresh",
        .expiresAt = static_cast<double>(expiry.count()),
        .clientId = "preview" };
}

void ScreenshotRenderer::render(const QString& directory, std::FILE* out)
{
    if (!QDir().mkpath(directory) || !QFileInfo(directory).isDir())
        throw Error(tr("could not create the folder %1").arg(directory).toStdString());
    QGuiApplication::setPalette(DesktopAppearance::palette(DesktopAppearance::ColorScheme::light));

    AppContainer::Options options;
    options.removeLegacyAPIKey = {};
    auto credentials = std::make_shared<InMemoryCredentialStore>(placeholderSession(std::chrono::system_clock::now()));
    AppContainer container(std::make_unique<SettingsStore>(SettingsStore::standardDefaults()), std::move(credentials),
        SnapshotCache::defaultCache(), std::move(options));
    UsageStore& store = container.store();
    store.loadCache();
    store.reloadCredential();
    store.setNextRefreshAt(std::chrono::system_clock::now() + AppContainer::refreshInterval);
    container.updater().start();

    const QDir dir(directory);
    write(panel(container), dir.filePath(QStringLiteral("panel.png")), out);
    write(settings(container), dir.filePath(QStringLiteral("settings.png")), out);
    write(menuBar(container), dir.filePath(QStringLiteral("menubar.png")), out);
    container.updater().stop();
}

QImage ScreenshotRenderer::panel(AppContainer& container)
{
    OffscreenQuickRenderer renderer;
    // No updater: the screenshot never shows the update banner.
    DashboardModel dashboard(container.store(), nullptr, DashboardActions {}, false);
    QQuickItem* root = renderer.load(QUrl(QStringLiteral("qrc:/Velmo/Panel/DashboardView.qml")),
        { { QStringLiteral("dashboard"), QVariant::fromValue(&dashboard) } });
    return grabScene(renderer, root, "panel");
}

QImage ScreenshotRenderer::settings(AppContainer& container)
{
    SettingsModel::Options options;
    // The picture shows the common desktop, where the session is kept in the keyring.
    options.sessionStorage = SessionStorage::keyringDescription();
    SettingsModel model(container, std::move(options));
    model.setOnScreen(true);
    OffscreenQuickRenderer renderer; // goes first: its scene reads the model
    QQuickItem* root = renderer.load(QUrl(QStringLiteral("qrc:/Velmo/Settings/SettingsForm.qml")),
        { { QStringLiteral("settings"), QVariant::fromValue(&model) } });
    return grabScene(renderer, root, "settings");
}

QImage ScreenshotRenderer::menuBar(AppContainer& container)
{
    const auto& snapshot = container.store().snapshot();
    const QString text = snapshot && snapshot->balance
        ? QString::fromStdString(snapshot->balance->accountBalance.compact())
        : QStringLiteral("$0.00");
    const qreal ratio = qGuiApp->devicePixelRatio();
    return MenuBarItemPreview(text).render(QGuiApplication::palette().color(QPalette::WindowText), ratio);
}

void ScreenshotRenderer::write(const QImage& image, const QString& path, std::FILE* out)
{
    if (image.isNull() || !image.save(path, "PNG"))
        throw Error(tr("could not write %1").arg(path).toStdString());
    std::fprintf(out, "Wrote %s (%d\u00D7%d)\n", qUtf8Printable(path), image.width(), image.height());
    std::fflush(out);
}
