import QtQuick
import Velmo.Panel

// A title, a figure and a detail line, stacked.
Column {
    id: root

    required property StatTileModel model
    required property PanelTheme theme

    spacing: 2

    Text {
        width: parent.width
        elide: Text.ElideRight
        text: root.model.title
        textFormat: Text.PlainText
        font: root.theme.label
        color: root.theme.secondary
    }
    RollingText {
        text: root.model.value
        font: root.theme.value
        color: root.theme.primary
    }
    Text {
        width: parent.width - 4
        elide: Text.ElideRight
        text: root.model.detail
        textFormat: Text.PlainText
        font: root.theme.meta
        color: root.theme.tertiary
    }
}
