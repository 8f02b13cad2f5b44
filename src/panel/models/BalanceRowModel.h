#pragma once

#include "BalanceRules.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// One row of the balance section: a label, a value and an optional note.
class BalanceRowModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the balance section")
    // The row is present.
    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)
    Q_PROPERTY(QString label READ label NOTIFY labelChanged)
    Q_PROPERTY(QString value READ value NOTIFY valueChanged)
    // Empty when the row has no note.
    Q_PROPERTY(QString note READ note NOTIFY noteChanged)

public:
    using QObject::QObject;

    bool shown() const { return m_shown; }
    const QString& label() const { return m_label; }
    const QString& value() const { return m_value; }
    const QString& note() const { return m_note; }
    // None hides the row and keeps its last texts.
    void update(const std::optional<BalanceRules::Row>& row);

signals:
    void shownChanged();
    void labelChanged();
    void valueChanged();
    void noteChanged();

private:
    bool m_shown = false;
    QString m_label;
    QString m_value;
    QString m_note;
};
