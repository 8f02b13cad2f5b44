import QtQuick
import Velmo.Panel

// A one-point line inset 12 points on both sides.
Item {
    id: root

    required property PanelTheme theme

    width: parent ? parent.width : 0
    implicitHeight: 1

    Rectangle {
        x: 12
        width: parent.width - 24
        height: 1
        color: root.theme.hairline
    }
}
