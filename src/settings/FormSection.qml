import QtQuick
import Velmo.Settings

// A titled group of rows on a rounded card, with an optional footer below.
Column {
    id: root

    required property FormTheme theme
    property string title
    // Rich text: inline code spans come as <code>.
    property string footer
    default property alias rows: list.children

    width: parent ? parent.width : 0
    spacing: 6

    Text {
        leftPadding: 4
        text: root.title
        textFormat: Text.PlainText
        font: root.theme.header
        color: root.theme.primary
        Accessible.role: Accessible.Heading
    }

    Rectangle {
        width: parent.width
        height: list.implicitHeight
        radius: 10
        color: root.theme.card
        border.width: 1
        border.color: root.theme.cardBorder

        Column {
            id: list
            width: parent.width
        }
    }

    Text {
        visible: root.footer !== ""
        width: parent.width
        leftPadding: 4
        rightPadding: 4
        text: root.footer
        textFormat: Text.RichText
        wrapMode: Text.Wrap
        font: root.theme.caption
        color: root.theme.secondary
    }
}
