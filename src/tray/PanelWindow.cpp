#include "PanelWindow.h"

#include "DashboardModel.h"
#include "Log.h"
#include "X11Desktop.h"

#include <QCursor>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRegion>
#include <QScreen>
#include <QVariantAnimation>

#include <cmath>
#include <cstdio>

namespace {

// A click that took the focus away from the panel arrives at the item this
// soon after the panel went.
constexpr qint64 focusLossClickMs = 400;

// Settles quickly and gently: the show and resize animations' curve.
QEasingCurve settleCurve()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.16, 1.0), QPointF(0.3, 1.0), QPointF(1.0, 1.0));
    return curve;
}

QEasingCurve easeInCurve()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(1.0, 1.0), QPointF(1.0, 1.0));
    return curve;
}

QRect availableGeometryAt(QPoint point)
{
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

PanelWindow::PanelWindow(
    UsageStore& store, UpdaterController* updater, DashboardActions actions, bool reduceMotion, QObject* parent)
    : QObject(parent)
    , m_reduceMotion(reduceMotion)
{
    actions.resize = [this](QSizeF size) { resizeTo(size.height()); };
    m_dashboard = std::make_unique<DashboardModel>(store, updater, std::move(actions), reduceMotion);
}

PanelWindow::~PanelWindow()
{
    m_view.reset();
}

void PanelWindow::create()
{
    m_view = std::make_unique<QQuickView>();
    m_view->setTitle(tr("Velmo Usage"));
    m_translucent = X11Desktop::compositing();
    if (m_translucent) {
        QSurfaceFormat format = m_view->format();
        format.setAlphaBufferSize(8);
        m_view->setFormat(format);
    }
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    // A tool window: no taskbar entry, above the others, no frame.
    if (!m_windowMode) {
        m_view->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        m_view->create();
        X11Desktop::skipTaskbar(m_view->winId());
    }
    QQmlEngine* engine = m_view->engine();
    engine->addImportPath(QStringLiteral("qrc:/"));
    connect(engine, &QQmlEngine::warnings, this, [](const QList<QQmlError>& warnings) {
        for (const QQmlError& warning : warnings)
            qCWarning(Log::app, "panel: %s", qUtf8Printable(warning.toString()));
    });
    m_view->setInitialProperties({ { QStringLiteral("dashboard"), QVariant::fromValue(m_dashboard.get()) } });
    m_view->setSource(QUrl(QStringLiteral("qrc:/Velmo/Panel/DashboardView.qml")));
    m_view->resize(width, contentHeight());
    m_view->installEventFilter(this);
    connect(m_view.get(), &QWindow::visibleChanged, m_dashboard.get(), &DashboardModel::setOnScreen);

    connect(m_view.get(), &QWindow::activeChanged, this, [this] {
        if (m_view->isActive() || !m_presented || m_windowMode)
            return;
        // Another application (or another window of ours) took the focus.
        hide();
        m_hiddenByFocusLoss.start();
    });
    connect(m_dashboard->theme(), &PanelTheme::colorsChanged, this, &PanelWindow::applyBackdrop);

    m_geometryAnimation = new QVariantAnimation(this);
    connect(m_geometryAnimation, &QVariantAnimation::valueChanged, this,
        [this](const QVariant& value) { m_view->setGeometry(value.toRect()); });
    m_fade = new QPropertyAnimation(m_view.get(), "opacity", this);
    m_slide = new QPropertyAnimation(this);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        // A panel shown again while it faded out stays up.
        if (!m_presented && !m_windowMode) {
            m_view->hide();
            m_view->setOpacity(1.0);
            m_slide->stop();
            if (QQuickItem* content = m_view->rootObject())
                content->setPosition(QPointF(0, 0));
        }
    });
}

// The dashboard draws its own rounded background; the window around it is
// clear where the screen has alpha, else cut to the rounded shape.
void PanelWindow::applyBackdrop()
{
    if (!m_view)
        return;
    if (m_windowMode) {
        m_view->setColor(m_dashboard->theme()->window());
        m_view->setMask(QRegion());
        return;
    }
    if (m_translucent) {
        m_view->setColor(Qt::transparent);
        return;
    }
    m_view->setColor(m_dashboard->theme()->window());
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, m_view->width(), m_view->height()), cornerRadius, cornerRadius);
    m_view->setMask(QRegion(rounded.toFillPolygon().toPolygon()));
}

int PanelWindow::contentHeight() const
{
    return std::max(minimumHeight, int(std::ceil(m_contentHeight)));
}

void PanelWindow::show(std::optional<QRect> item, QPoint pointer)
{
    if (!m_view)
        create();
    if (m_windowMode) {
        m_view->show();
        m_view->raise();
        m_view->requestActivate();
        return;
    }
    // Still on screen (open, or fading out): no slide, the fade goes on from here.
    const bool alreadyUp = m_view->isVisible();
    m_presented = true;
    const QSize size(width, contentHeight());
    const QRect available = availableGeometryAt(item ? item->center() : pointer);
    const PanelPlacement::Placement placement = PanelPlacement::place(item, size, available, pointer);
    m_edge = placement.edge;
    const QRect target(placement.origin, size);

    m_fade->stop();
    m_geometryAnimation->stop();
    if (!alreadyUp)
        m_view->setOpacity(0.0);
    // The window goes straight to its place (moving a window that is being
    // mapped races the window manager); the content slides inside it.
    m_view->setGeometry(target);
    applyBackdrop();
    if (!alreadyUp && qEnvironmentVariableIsSet("VELMO_TRACE_FRAMES")) {
        // For the benchmarks: when the opened panel's first frame is on screen.
        QObject::connect(m_view.get(), &QQuickWindow::frameSwapped, m_view.get(),
            [] { std::fputs("panel: first frame\n", stderr); }, Qt::SingleShotConnection);
    }
    m_view->show();
    m_view->raise();
    m_view->requestActivate();

    const int duration = m_reduceMotion ? showReducedMs : showMs;
    m_fade->setDuration(duration);
    m_fade->setEasingCurve(settleCurve());
    m_fade->setStartValue(m_view->opacity());
    m_fade->setEndValue(1.0);
    m_fade->start();
    QQuickItem* content = m_view->rootObject();
    if (!content || m_reduceMotion || alreadyUp)
        return;
    // Slides in from the tray's side.
    const bool vertical = m_edge == PanelPlacement::Edge::top || m_edge == PanelPlacement::Edge::bottom;
    const bool fromLowSide = m_edge == PanelPlacement::Edge::top || m_edge == PanelPlacement::Edge::left;
    m_slide->stop();
    m_slide->setTargetObject(content);
    m_slide->setPropertyName(vertical ? "y" : "x");
    m_slide->setDuration(duration);
    m_slide->setEasingCurve(settleCurve());
    m_slide->setStartValue(double(fromLowSide ? -slideDistance : slideDistance));
    m_slide->setEndValue(0.0);
    m_slide->start();
}

void PanelWindow::hide()
{
    if (!m_presented || m_windowMode)
        return;
    m_presented = false;
    m_geometryAnimation->stop();
    m_fade->stop();
    m_fade->setDuration(hideMs);
    m_fade->setEasingCurve(easeInCurve());
    m_fade->setStartValue(m_view->opacity());
    m_fade->setEndValue(0.0);
    m_fade->start();
}

void PanelWindow::toggle(std::optional<QRect> item, QPoint pointer)
{
    if (m_windowMode) {
        show(item, pointer);
        return;
    }
    if (m_presented) {
        hide();
        return;
    }
    if (m_hiddenByFocusLoss.isValid() && m_hiddenByFocusLoss.elapsed() < focusLossClickMs) {
        m_hiddenByFocusLoss.invalidate();
        return;
    }
    show(item, pointer);
}

void PanelWindow::showAsWindow()
{
    m_windowMode = true;
    m_presented = true;
    if (!m_view)
        create();
    m_view->setFlags(Qt::Window);
    m_view->resize(width, contentHeight());
    applyBackdrop();
    if (const QScreen* screen = m_view->screen())
        m_view->setPosition(screen->availableGeometry().center() - QPoint(width, contentHeight()) / 2);
    m_view->show();
    m_view->raise();
    m_view->requestActivate();
}

void PanelWindow::resizeTo(double height)
{
    if (height <= 0)
        return;
    m_contentHeight = height;
    if (!m_view || !m_view->isVisible() || (!m_presented && !m_windowMode))
        return;
    // Half a point either way is noise (the frame is whole pixels).
    if (std::abs(std::max<double>(height, minimumHeight) - m_view->height()) <= resizeDeadBand)
        return;
    QRect target = m_view->geometry();
    const int newHeight = contentHeight();
    if (m_edge == PanelPlacement::Edge::bottom && !m_windowMode)
        target.setTop(target.bottom() + 1 - newHeight); // keeps the bottom edge
    else
        target.setHeight(newHeight); // keeps the top edge
    const bool settled = m_view->opacity() >= 1.0 && m_fade->state() != QAbstractAnimation::Running;
    if (!m_reduceMotion && settled && !m_windowMode) {
        animateGeometry(target, resizeMs);
    } else {
        m_geometryAnimation->stop();
        m_view->setGeometry(target);
        applyBackdrop();
    }
}

void PanelWindow::animateGeometry(const QRect& to, int durationMs)
{
    m_geometryAnimation->stop();
    m_geometryAnimation->setDuration(durationMs);
    m_geometryAnimation->setEasingCurve(settleCurve());
    m_geometryAnimation->setStartValue(m_view->geometry());
    m_geometryAnimation->setEndValue(to);
    disconnect(m_geometryAnimation, &QVariantAnimation::finished, this, nullptr);
    connect(m_geometryAnimation, &QVariantAnimation::finished, this, &PanelWindow::applyBackdrop);
    m_geometryAnimation->start();
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view.get()) {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape
            && !m_windowMode) {
            hide();
            return true;
        }
        if (event->type() == QEvent::Close && m_windowMode)
            emit windowClosed();
    }
    return QObject::eventFilter(watched, event);
}
