import QtQuick
import Velmo.Settings

// A row of a section with free content stacked from the left, such as a
// row of buttons with a message under it.
Item {
    id: root

    required property FormTheme theme
    default property alias content: stack.data

    width: parent ? parent.width : 0
    implicitHeight: Math.max(44, stack.implicitHeight + 20)

    Rectangle {
        visible: !root.Positioner.isFirstItem
        x: 14
        width: parent.width - 14
        height: 1
        color: root.theme.cardBorder
    }

    Column {
        id: stack
        x: 14
        width: parent.width - 28
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6
    }
}
