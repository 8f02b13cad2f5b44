#include "OffscreenQuickRenderer.h"

#include <QAnimationDriver>
#include <QCoreApplication>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickRenderTarget>
#include <QtQml/qqmlextensionplugin.h>

// The panel's QML module is linked statically.
Q_IMPORT_QML_PLUGIN(Velmo_PanelPlugin)

// An animation clock that moves only when told to.
class SteppedAnimationDriver : public QAnimationDriver {
public:
    qint64 elapsed() const override { return m_elapsed; }
    void step(qint64 milliseconds)
    {
        m_elapsed += milliseconds;
        advance();
    }

private:
    qint64 m_elapsed = 0;
};

namespace {

// The software adaptation must be chosen before the render control exists.
std::unique_ptr<SteppedAnimationDriver> softwareRenderingDriver()
{
    static const bool chosen = [] {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        return true;
    }();
    Q_UNUSED(chosen)
    return std::make_unique<SteppedAnimationDriver>();
}

} // namespace

OffscreenQuickRenderer::OffscreenQuickRenderer()
    : m_driver(softwareRenderingDriver())
{
    m_driver->install();
    m_window = std::make_unique<QQuickWindow>(&m_control);
    m_window->setColor(Qt::transparent);
    m_engine.addImportPath(QStringLiteral("qrc:/"));
    m_engine.setOutputWarningsToStandardError(false);
    QObject::connect(&m_engine, &QQmlEngine::warnings, [this](const QList<QQmlError>& warnings) {
        for (const QQmlError& warning : warnings)
            m_warnings.append(warning.toString());
    });
}

OffscreenQuickRenderer::~OffscreenQuickRenderer()
{
    m_root.reset();
    m_window.reset();
    m_driver->uninstall();
}

QQuickItem* OffscreenQuickRenderer::load(const QUrl& url, const QVariantMap& initialProperties)
{
    QQmlComponent component(&m_engine, url, QQmlComponent::PreferSynchronous);
    return adopt(component.isReady() ? component.createWithInitialProperties(initialProperties) : nullptr, component);
}

QQuickItem* OffscreenQuickRenderer::loadData(const QByteArray& qml, const QVariantMap& initialProperties)
{
    QQmlComponent component(&m_engine);
    component.setData(qml, QUrl(QStringLiteral("qrc:/offscreen.qml")));
    return adopt(component.isReady() ? component.createWithInitialProperties(initialProperties) : nullptr, component);
}

QQuickItem* OffscreenQuickRenderer::adopt(QObject* object, QQmlComponent& component)
{
    for (const QQmlError& error : component.errors())
        m_warnings.append(error.toString());
    auto* item = qobject_cast<QQuickItem*>(object);
    if (!item) {
        delete object;
        return nullptr;
    }
    m_root.reset(item);
    item->setParentItem(m_window->contentItem());
    return item;
}

void OffscreenQuickRenderer::settle(std::chrono::milliseconds duration)
{
    constexpr qint64 frame = 16;
    for (qint64 done = 0; done <= duration.count(); done += frame) {
        QCoreApplication::processEvents();
        m_driver->step(frame);
        if (m_root)
            m_control.polishItems();
    }
    QCoreApplication::processEvents();
}

QImage OffscreenQuickRenderer::grab()
{
    if (!m_root)
        return {};
    m_control.polishItems();
    const QSizeF size(m_root->width(), m_root->height());
    const qreal ratio = m_window->devicePixelRatio();
    const QSize pixels = (size * ratio).toSize();
    if (pixels.isEmpty())
        return {};
    m_window->setGeometry(0, 0, qCeil(size.width()), qCeil(size.height()));
    m_window->contentItem()->setSize(size);
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QQuickRenderTarget target = QQuickRenderTarget::fromPaintDevice(&image);
    target.setDevicePixelRatio(ratio);
    m_window->setRenderTarget(target);
    m_control.polishItems();
    m_control.beginFrame();
    m_control.sync();
    m_control.render();
    m_control.endFrame();
    m_window->setRenderTarget(QQuickRenderTarget());
    return image;
}
