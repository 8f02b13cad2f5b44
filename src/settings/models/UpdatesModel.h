#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class UpdaterController;

// The Updates section, shown only while the updater is active.
class UpdatesModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the settings form")
    // The section is shown.
    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)
    // The "Automatically check for updates" toggle.
    Q_PROPERTY(bool automaticallyChecks READ automaticallyChecks NOTIFY automaticallyChecksChanged)
    // "Check for Updates…" can be used (no check is running).
    Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)

public:
    explicit UpdatesModel(UpdaterController& updater, QObject* parent = nullptr);

    bool shown() const { return m_shown; }
    bool automaticallyChecks() const { return m_automaticallyChecks; }
    bool canCheck() const { return m_canCheck; }

    // From the updater.
    void update();
    // From the given state (what update() reads).
    void update(bool active, bool automaticallyChecks, bool canCheck);

    Q_INVOKABLE void setAutomaticallyChecks(bool on);
    Q_INVOKABLE void check();

signals:
    void shownChanged();
    void automaticallyChecksChanged();
    void canCheckChanged();

private:
    UpdaterController& m_updater;
    bool m_shown = false;
    bool m_automaticallyChecks = false;
    bool m_canCheck = false;
};
