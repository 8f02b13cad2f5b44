#pragma once

#include <QObject>

#include <memory>

class AppContainer;
class QQuickWindow;

// The settings window: created on the first show() and kept for the rest of
// the run, so closing and reopening shows it as it was.
class SettingsWindow : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindow(AppContainer& container, QObject* parent = nullptr);
    ~SettingsWindow() override;

    // Creates the window on first use, then brings it to the front.
    void show();
    // The window, or nullptr before the first show().
    QQuickWindow* window() const;

private:
    AppContainer& m_container;
    std::unique_ptr<QQuickWindow> m_window;
};
