#pragma once

#include "OffscreenQuickRenderer.h"

#include <QQuickItem>
#include <gtest/gtest.h>

namespace velmo::test {

// A QML scene drawn offscreen and probed by object name and pixel. Any QML
// warning fails the test. A scene whose QML reads objects of the derived
// fixture calls unload() in its destructor, before those objects go.
class QuickScene {
public:
    ~QuickScene() { unload(); }

    void load(const char* url, const QVariantMap& properties)
    {
        root = renderer->load(QUrl(url), properties);
        ASSERT_NE(root, nullptr) << renderer->warnings().join('\n').toStdString();
        settle();
    }
    void settle()
    {
        renderer->settle(settleFor);
        image = renderer->grab();
    }
    void unload()
    {
        if (renderer) {
            EXPECT_TRUE(renderer->warnings().isEmpty()) << renderer->warnings().join('\n').toStdString();
        }
        renderer.reset();
    }

    QQuickItem* item(const char* name) const { return root->findChild<QQuickItem*>(name); }
    bool shown(const char* name) const { return item(name) && item(name)->isVisible(); }
    bool enabled(const char* name) const { return item(name) && item(name)->isEnabled(); }
    QString text(const char* name) const { return item(name) ? item(name)->property("text").toString() : "(none)"; }
    QColor pixelAt(QQuickItem* it, QPointF point) const
    {
        const QPointF scene = it->mapToScene(point) * image.devicePixelRatio();
        return image.pixelColor(static_cast<int>(scene.x()), static_cast<int>(scene.y()));
    }
    static bool near(QColor a, QColor b, int tolerance)
    {
        return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
            && std::abs(a.blue() - b.blue()) <= tolerance;
    }

    std::unique_ptr<OffscreenQuickRenderer> renderer = std::make_unique<OffscreenQuickRenderer>();
    std::chrono::milliseconds settleFor { 1500 };
    QQuickItem* root = nullptr;
    QImage image;
};

} // namespace velmo::test
