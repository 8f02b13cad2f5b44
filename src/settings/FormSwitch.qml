import QtQuick
import QtQuick.Templates as T
import Velmo.Settings

// An on/off switch that shows its model's state and never changes it by
// itself: a click asks the model (clicked), and the state follows the model,
// so a refused change snaps back.
T.AbstractButton {
    id: root

    required property FormTheme theme

    checkable: false
    implicitWidth: 40
    implicitHeight: 24
    focusPolicy: Qt.TabFocus
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: checked

    contentItem: null
    background: Rectangle {
        radius: height / 2
        color: root.checked ? root.theme.accent : root.hovered && root.enabled ? root.theme.controlHover
                                                                                : root.theme.controlPressed
        opacity: root.enabled ? 1 : 0.6
        border.width: root.visualFocus ? 2 : 0
        border.color: Qt.lighter(root.theme.accent, 1.4)

        Behavior on color {
            ColorAnimation {
                duration: 150
            }
        }

        Rectangle {
            objectName: "knob"
            width: 20
            height: 20
            radius: 10
            y: 2
            x: root.checked ? parent.width - width - 2 : 2
            color: root.theme.raised
            border.width: 1
            border.color: Qt.rgba(0, 0, 0, 0.08)

            Behavior on x {
                NumberAnimation {
                    duration: 150
                    easing.type: Easing.OutCubic
                }
            }
        }
    }
}
