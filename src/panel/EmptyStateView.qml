import QtQuick
import QtQuick.Controls.Fusion
import Velmo.Panel

// A symbol, a title, a detail and one button, centred.
Item {
    id: root

    required property PanelTheme theme
    property string icon
    property string title
    // Rich text: inline code spans are set in a fixed-pitch font.
    property string detail
    property string buttonTitle
    signal activated

    implicitHeight: column.implicitHeight + 24

    Column {
        id: column
        y: 12
        width: parent.width
        spacing: 8

        SymbolIcon {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 30
            height: 30
            name: root.icon
            color: root.theme.secondary
        }
        Text {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: root.title
            textFormat: Text.PlainText
            font: root.theme.title
            color: root.theme.primary
        }
        Text {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: root.detail
            textFormat: Text.RichText
            wrapMode: Text.Wrap
            font: root.theme.body
            color: root.theme.secondary
        }
        Item {
            width: parent.width
            implicitHeight: button.implicitHeight + 4

            SmallButton {
                id: button
                y: 4
                anchors.horizontalCenter: parent.horizontalCenter
                text: root.buttonTitle
                theme: root.theme
                onClicked: root.activated()
            }
        }
    }
}
