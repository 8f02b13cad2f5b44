#include "SettingsWindow.h"

#include "AppContainer.h"
#include "Log.h"
#include "SettingsModel.h"

#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>

namespace {

constexpr QSize windowSize(440, 520);

} // namespace

SettingsWindow::SettingsWindow(AppContainer& container, QObject* parent)
    : QObject(parent)
    , m_container(container)
{
}

SettingsWindow::~SettingsWindow()
{
    m_window.reset();
}

void SettingsWindow::create()
{
    SettingsModel::Options options;
    options.close = [this] { m_window->close(); };
    options.quit = [this] { emit quitRequested(); };
    m_model = std::make_unique<SettingsModel>(m_container, std::move(options));

    m_window = std::make_unique<QQuickView>();
    m_window->setTitle(tr("Velmo Usage Settings"));
    // A normal window with a title, a close and a minimise button.
    m_window->setFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_window->setMinimumSize(windowSize);
    m_window->setMaximumSize(windowSize);
    m_window->resize(windowSize);
    m_window->setColor(m_model->theme()->window());
    m_window->setResizeMode(QQuickView::SizeRootObjectToView);
    if (const QScreen* screen = m_window->screen())
        m_window->setPosition(screen->availableGeometry().center() - QPoint(windowSize.width(), windowSize.height()) / 2);

    QQmlEngine* engine = m_window->engine();
    engine->addImportPath(QStringLiteral("qrc:/"));
    QObject::connect(engine, &QQmlEngine::warnings, this, [](const QList<QQmlError>& warnings) {
        for (const QQmlError& warning : warnings)
            qCWarning(Log::app, "settings window: %s", qUtf8Printable(warning.toString()));
    });
    QObject::connect(m_model->theme(), &FormTheme::colorsChanged, m_window.get(),
        [this] { m_window->setColor(m_model->theme()->window()); });
    QObject::connect(m_window.get(), &QWindow::visibleChanged, m_model.get(),
        [model = m_model.get()](bool visible) { model->setOnScreen(visible); });
    m_window->setInitialProperties({ { QStringLiteral("settings"), QVariant::fromValue(m_model.get()) } });
    m_window->setSource(QUrl(QStringLiteral("qrc:/Velmo/Settings/SettingsForm.qml")));
}

void SettingsWindow::show()
{
    if (!m_window)
        create();
    if (m_window->windowStates() & Qt::WindowMinimized)
        m_window->setWindowStates(m_window->windowStates() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

QQuickWindow* SettingsWindow::window() const
{
    return m_window.get();
}
