import QtQuick
import Velmo.Panel
import Velmo.Settings

// A symbol and a line of text in one colour.
Row {
    id: root

    required property FormTheme theme
    property string icon
    property string text
    property color color

    spacing: 6

    SymbolIcon {
        anchors.verticalCenter: parent.verticalCenter
        width: 14
        height: 14
        name: root.icon
        color: root.color
    }
    Text {
        width: Math.min(implicitWidth, (root.parent ? root.parent.width : implicitWidth) - 20)
        anchors.verticalCenter: parent.verticalCenter
        text: root.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: root.theme.caption
        color: root.color
    }
}
