import QtQuick
import Velmo.Settings

// One row of a section: a title (with an optional subtitle and alert line
// under it) on the left, its control or value on the right. With `fill`,
// the control takes the width left beside the title. Rows after the first
// draw a hairline above themselves.
Item {
    id: root

    required property FormTheme theme
    property string title
    property string subtitle
    property string alert
    property bool fill: false
    default property alias content: trailing.data

    readonly property real inset: 14

    width: parent ? parent.width : 0
    implicitHeight: Math.max(44, Math.max(labels.implicitHeight, trailing.implicitHeight) + 16)

    Rectangle {
        visible: !root.Positioner.isFirstItem
        x: root.inset
        width: parent.width - root.inset
        height: 1
        color: root.theme.cardBorder
    }

    Column {
        id: labels
        x: root.inset
        anchors.verticalCenter: parent.verticalCenter
        width: root.fill ? titleText.implicitWidth : parent.width - 2 * root.inset - trailing.width - 12
        spacing: 2

        Text {
            id: titleText
            width: parent.width
            text: root.title
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font: root.theme.row
            color: root.theme.primary
        }
        Text {
            objectName: "subtitle"
            visible: root.subtitle !== ""
            width: parent.width
            text: root.subtitle
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: root.theme.caption
            color: root.theme.secondary
        }
        Text {
            objectName: "alert"
            visible: root.alert !== ""
            width: parent.width
            text: root.alert
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: root.theme.caption
            color: root.theme.red
        }
    }

    Item {
        id: trailing
        anchors.right: parent.right
        anchors.rightMargin: root.inset
        anchors.verticalCenter: parent.verticalCenter
        width: root.fill ? parent.width - 2 * root.inset - labels.width - 12 : childrenRect.width
        implicitHeight: childrenRect.height
        height: implicitHeight
    }
}
