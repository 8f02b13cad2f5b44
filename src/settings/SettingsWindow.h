#pragma once

#include <QObject>

#include <memory>

class AppContainer;
class QQuickView;
class QQuickWindow;
class SettingsModel;

// The settings window: created on the first show() and kept for the rest of
// the run, so closing and reopening shows it as it was (the base-URL field
// takes the stored value again each time it comes on screen). 440 × 520
// points, not resizable. Ctrl+W closes it; Ctrl+Q asks to quit the app.
class SettingsWindow : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindow(AppContainer& container, QObject* parent = nullptr);
    ~SettingsWindow() override;

    // Creates the window on first use, then brings it to the front.
    void show();
    // The window, or nullptr before the first show().
    QQuickWindow* window() const;
    // The form's model, or nullptr before the first show().
    SettingsModel* model() const { return m_model.get(); }

signals:
    // Ctrl+Q in the window: the user asks to quit the application.
    void quitRequested();

private:
    void create();

    AppContainer& m_container;
    // Declared before the window, which reads it until it is gone.
    std::unique_ptr<SettingsModel> m_model;
    std::unique_ptr<QQuickView> m_window;
};
