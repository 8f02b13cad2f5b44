import QtQuick
import QtQuick.Templates as T
import Velmo.Panel
import Velmo.Settings

// A push button in the desktop's flat style: a soft fill that deepens under
// the pointer and when pressed, red text for a destructive action, and a
// spinner before the title while its work runs.
T.Button {
    id: root

    required property FormTheme theme
    property bool destructive: false
    property bool busy: false

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: 28
    leftPadding: 12
    rightPadding: 12
    font: theme.row
    focusPolicy: Qt.TabFocus
    Accessible.name: text

    contentItem: Row {
        spacing: 6

        Spinner {
            visible: root.busy
            running: root.busy
            anchors.verticalCenter: parent.verticalCenter
            theme: root.theme
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: root.text
            textFormat: Text.PlainText
            font: root.font
            color: root.destructive ? root.theme.red : root.theme.primary
            opacity: root.enabled ? 1 : 0.45
        }
    }

    background: Rectangle {
        radius: 6
        color: root.down ? root.theme.controlPressed : root.hovered && root.enabled ? root.theme.controlHover
                                                                                    : root.theme.control
        border.width: root.visualFocus ? 2 : 0
        border.color: root.theme.accent

        Behavior on color {
            ColorAnimation {
                duration: 100
            }
        }
    }
}
