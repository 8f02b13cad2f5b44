import QtQuick
import QtQuick.Controls.Fusion
import Velmo.Panel

// A small borderless icon button: a soft fill under the pointer, a spinning
// icon while its work runs (still and dimmed under reduced motion).
Item {
    id: root

    required property PanelTheme theme
    property string icon
    property string help
    property bool spinning: false
    property bool reduceMotion: false
    signal clicked

    implicitWidth: 24
    implicitHeight: 22
    Accessible.role: Accessible.Button
    Accessible.name: help
    Accessible.onPressAction: if (enabled) root.clicked()

    Rectangle {
        anchors.fill: parent
        radius: 6
        color: mouse.containsMouse && root.enabled ? root.theme.hairline : "transparent"

        Behavior on color {
            ColorAnimation {
                duration: 120
                easing.type: Easing.OutCubic
            }
        }
    }

    SymbolIcon {
        id: symbol
        objectName: "icon"
        anchors.centerIn: parent
        width: 14
        height: 14
        name: root.icon
        color: mouse.containsMouse && root.enabled ? root.theme.primary : root.theme.secondary
        opacity: root.spinning && root.reduceMotion ? 0.45 : 1

        Behavior on opacity {
            NumberAnimation {
                duration: 200
                easing.type: Easing.OutCubic
            }
        }

        RotationAnimation on rotation {
            running: root.spinning && !root.reduceMotion
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            onStopped: symbol.rotation = 0
        }
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        onClicked: if (root.enabled) root.clicked()
    }

    ToolTip.visible: mouse.containsMouse && help !== ""
    ToolTip.delay: 600
    ToolTip.text: help
}
