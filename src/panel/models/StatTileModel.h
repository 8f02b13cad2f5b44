#pragma once

#include "UsageRules.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// One of the usage section's three tiles.
class StatTileModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the usage section")
    // "Spend", "Requests" or "Tokens".
    Q_PROPERTY(QString title READ title NOTIFY titleChanged)
    // The period's figure.
    Q_PROPERTY(QString value READ value NOTIFY valueChanged)
    // The line under it: per day, failures, or in and out.
    Q_PROPERTY(QString detail READ detail NOTIFY detailChanged)

public:
    using QObject::QObject;

    const QString& title() const { return m_tile.title; }
    const QString& value() const { return m_tile.value; }
    const QString& detail() const { return m_tile.detail; }
    void update(const UsageRules::Tile& tile);

signals:
    void titleChanged();
    void valueChanged();
    void detailChanged();

private:
    UsageRules::Tile m_tile;
};
