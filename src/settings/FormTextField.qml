import QtQuick
import QtQuick.Templates as T
import Velmo.Settings

// A one-line text field on a soft fill, ringed in the accent colour while
// it has the keyboard. The usual editing keys work (select all, cut, copy,
// paste, undo).
T.TextField {
    id: root

    required property FormTheme theme

    implicitWidth: 200
    implicitHeight: 30
    leftPadding: 9
    rightPadding: 9
    verticalAlignment: TextInput.AlignVCenter
    font: theme.row
    color: theme.primary
    placeholderTextColor: theme.tertiary
    selectionColor: theme.accent
    selectedTextColor: theme.onAccent
    selectByMouse: true
    inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoAutoUppercase

    Text {
        x: root.leftPadding
        width: root.width - root.leftPadding - root.rightPadding
        height: root.height
        verticalAlignment: Text.AlignVCenter
        text: root.placeholderText
        font: root.font
        color: root.placeholderTextColor
        elide: Text.ElideRight
        visible: !root.length && !root.preeditText
    }

    background: Rectangle {
        radius: 6
        color: root.theme.control
        border.width: root.activeFocus ? 2 : 0
        border.color: root.theme.accent
    }
}
