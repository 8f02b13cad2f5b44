import QtQuick
import Velmo.Panel

// A label on the left; on the right a value and, beneath it, a note.
Item {
    id: root

    required property BalanceRowModel model
    required property PanelTheme theme

    implicitHeight: Math.max(label.implicitHeight, values.implicitHeight)

    Text {
        id: label
        anchors.baseline: values.top
        anchors.baselineOffset: value.baselineOffset
        width: Math.min(implicitWidth, root.width - values.width - 12)
        elide: Text.ElideRight
        text: root.model.label
        textFormat: Text.PlainText
        font: root.theme.label
        color: root.theme.secondary
    }
    Column {
        id: values
        anchors.right: parent.right
        spacing: 1

        RollingText {
            id: value
            anchors.right: parent.right
            text: root.model.value
            font: root.theme.value
            color: root.theme.primary
            horizontalAlignment: Text.AlignRight
        }
        Text {
            anchors.right: parent.right
            visible: root.model.note !== ""
            text: root.model.note
            textFormat: Text.PlainText
            font: root.theme.meta
            color: root.theme.tertiary
        }
    }
}
