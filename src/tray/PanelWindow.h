#pragma once

#include "DashboardActions.h"
#include "PanelPlacement.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <memory>
#include <optional>

class DashboardModel;
class QParallelAnimationGroup;
class QPropertyAnimation;
class QQuickView;
class QVariantAnimation;
class UpdaterController;
class UsageStore;

// The drop-down panel: a frameless, always-on-top tool window (no taskbar
// entry) hosting the dashboard, 320 wide, placed next to the tray item. It
// fades and slides in, fades out, follows the dashboard's height and goes
// away on Escape, when another application's window takes the focus, or on
// a second click on the item. Where no tray exists it is an ordinary window
// instead (showAsWindow()). Created once and reused.
class PanelWindow : public QObject {
    Q_OBJECT
public:
    static constexpr int width = 320;
    static constexpr int minimumHeight = 120;
    static constexpr int cornerRadius = 12;
    static constexpr int slideDistance = 4;
    static constexpr int showMs = 180;
    static constexpr int showReducedMs = 120;
    static constexpr int hideMs = 120;
    static constexpr int resizeMs = 200;
    static constexpr double resizeDeadBand = 0.5;

    // `actions.resize` is the panel's own and is replaced.
    PanelWindow(UsageStore& store, UpdaterController* updater, DashboardActions actions, bool reduceMotion,
        QObject* parent = nullptr);
    ~PanelWindow() override;

    // True from show() until hide(): whether the panel is open.
    bool isPresented() const { return m_presented; }
    // Opens next to the item (screen coordinates), or at the pointer when
    // the tray gave no geometry.
    void show(std::optional<QRect> item, QPoint pointer);
    void hide();
    // A click on the item: hides an open panel, else opens it. A click that
    // itself took the focus away (and so just hid the panel) only closes it.
    void toggle(std::optional<QRect> item, QPoint pointer);
    // No tray on this desktop: the dashboard in an ordinary window.
    void showAsWindow();
    bool isWindowMode() const { return m_windowMode; }

    QQuickView* view() const { return m_view.get(); }
    DashboardModel* dashboard() const { return m_dashboard.get(); }
    // Follows the dashboard's measured height (its resize action).
    void resizeTo(double height);

signals:
    // The ordinary window (no tray) was closed by the user.
    void windowClosed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create();
    void applyBackdrop();
    void animateGeometry(const QRect& to, int durationMs);
    int contentHeight() const;

    std::unique_ptr<DashboardModel> m_dashboard;
    std::unique_ptr<QQuickView> m_view;
    QVariantAnimation* m_geometryAnimation = nullptr;
    QPropertyAnimation* m_fade = nullptr;
    QPropertyAnimation* m_slide = nullptr; // the content, 4 points towards its place
    bool m_reduceMotion;
    bool m_presented = false;
    bool m_windowMode = false;
    bool m_translucent = false;
    double m_contentHeight = minimumHeight;
    PanelPlacement::Edge m_edge = PanelPlacement::Edge::top;
    // When the panel last went because it lost the focus.
    QElapsedTimer m_hiddenByFocusLoss;
};
