#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

// One of the bundled icons, named after the symbol it stands for
// ("arrow.clockwise"), drawn in one colour at the item's size and the
// window's pixel density.
class SymbolIcon : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    // The symbol's name; a file of that name in the icon set.
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    // The colour the icon is drawn in.
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit SymbolIcon(QQuickItem* parent = nullptr);

    const QString& name() const { return m_name; }
    void setName(const QString& name);
    const QColor& color() const { return m_color; }
    void setColor(const QColor& color);

    // The icon set's file for a symbol name; empty when there is none.
    static QString filePath(const QString& name);

    void paint(QPainter* painter) override;

signals:
    void nameChanged();
    void colorChanged();

private:
    QString m_name;
    QColor m_color = Qt::black;
};
