#pragma once

#include "LaunchAtLogin.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The General section's "Launch at login" toggle. Its state is the view's
// own: read once from the autostart entry, changed only by the user, and
// set back to the entry's real state when a change fails.
class LaunchAtLoginModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the settings form")
    // The toggle's state.
    Q_PROPERTY(bool enabled READ enabled NOTIFY enabledChanged)
    // The toggle can be used (an installed copy or an AppImage).
    Q_PROPERTY(bool available READ available CONSTANT)
    // Why it cannot; empty when it can.
    Q_PROPERTY(QString note READ note CONSTANT)
    // The last failure to change it; empty after a success.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    explicit LaunchAtLoginModel(LaunchAtLogin launch, QObject* parent = nullptr);

    bool enabled() const { return m_enabled; }
    bool available() const { return m_available; }
    const QString& note() const { return m_note; }
    const QString& error() const { return m_error; }

    // The user switched the toggle.
    Q_INVOKABLE void setEnabled(bool on);

signals:
    void enabledChanged();
    void errorChanged();

private:
    LaunchAtLogin m_launch;
    bool m_available;
    QString m_note;
    bool m_enabled;
    QString m_error;
};
