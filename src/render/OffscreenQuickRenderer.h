#pragma once

#include <QImage>
#include <QQmlEngine>
#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <chrono>
#include <memory>

class SteppedAnimationDriver;

// Draws a Qt Quick scene into an image without any window on screen, with
// Qt Quick's software renderer, keeping the alpha channel (grabbing a window
// would lose it). Animations run on a clock of their own that settle()
// moves forward, so every animation can be brought to its end at once.
// One renderer at a time per process. Main thread only.
class OffscreenQuickRenderer {
public:
    // The pixel density is the screen's (QT_SCALE_FACTOR=2 gives 2x images).
    OffscreenQuickRenderer();
    ~OffscreenQuickRenderer();

    QQmlEngine& engine() { return m_engine; }
    QQuickWindow& window() { return *m_window; }

    // Creates the scene's root from a QML file (the QML modules linked in
    // are importable). Returns null and keeps the errors as warnings on failure.
    QQuickItem* load(const QUrl& url, const QVariantMap& initialProperties = {});
    // The same from QML source text.
    QQuickItem* loadData(const QByteArray& qml, const QVariantMap& initialProperties = {});

    // Runs events and moves the animation clock forward by `duration` in
    // display-frame steps, then once more for work queued at the end.
    void settle(std::chrono::milliseconds duration = std::chrono::milliseconds(1500));

    // The root item at its size, on a transparent background.
    QImage grab();

    // Every QML warning and error since the renderer was made.
    const QStringList& warnings() const { return m_warnings; }

private:
    QQuickItem* adopt(QObject* object, QQmlComponent& component);

    std::unique_ptr<SteppedAnimationDriver> m_driver;
    QQuickRenderControl m_control;
    std::unique_ptr<QQuickWindow> m_window;
    QQmlEngine m_engine;
    std::unique_ptr<QQuickItem> m_root;
    QStringList m_warnings;
};
