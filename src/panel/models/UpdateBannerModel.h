#pragma once

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

class UpdaterController;

// The banner that offers a new version, over the updater (none where the
// program has no updater, as in the screenshots).
class UpdateBannerModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the dashboard")
    // A version is on offer.
    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)
    // "Velmo Usage 1.2.0": the line under the title (kept while the banner leaves).
    Q_PROPERTY(QString versionLine READ versionLine NOTIFY versionLineChanged)

public:
    explicit UpdateBannerModel(UpdaterController* updater, QObject* parent = nullptr);

    bool shown() const { return m_shown; }
    const QString& versionLine() const { return m_versionLine; }

    // Starts the update flow.
    Q_INVOKABLE void install();
    // Hides the banner until the next check finds the version again.
    Q_INVOKABLE void dismiss();

signals:
    void shownChanged();
    void versionLineChanged();

private:
    void update();

    QPointer<UpdaterController> m_updater;
    bool m_shown = false;
    QString m_versionLine;
};
