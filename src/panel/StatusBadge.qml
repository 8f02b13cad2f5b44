import QtQuick
import Velmo.Panel

// A coloured dot and a word for the store's status.
Row {
    id: root

    required property StatusBadgeModel model
    required property PanelTheme theme

    spacing: 5

    Rectangle {
        objectName: "badgeDot"
        anchors.verticalCenter: parent.verticalCenter
        width: 7
        height: 7
        radius: 3.5
        color: root.model.color

        Behavior on color {
            ColorAnimation {
                duration: 200
                easing.type: Easing.OutCubic
            }
        }
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: root.model.text
        textFormat: Text.PlainText
        font: root.theme.label
        color: root.theme.secondary
    }
}
