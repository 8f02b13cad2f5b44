#pragma once

#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// The product mark in the brand orange, fitted into the item.
class BrandMark : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT

public:
    explicit BrandMark(QQuickItem* parent = nullptr);
    void paint(QPainter* painter) override;
};
