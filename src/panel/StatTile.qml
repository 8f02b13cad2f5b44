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
    // Shrinks a little rather than cut a long detail short.
    Text {
        width: parent.width - 6
        elide: Text.ElideRight
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 9
        text: root.model.detail
        textFormat: Text.PlainText
        font: root.theme.meta
        color: root.theme.tertiary
    }
}
