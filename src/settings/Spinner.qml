import QtQuick
import Velmo.Panel
import Velmo.Settings

// A small turning arc: work is under way.
SymbolIcon {
    id: root

    required property FormTheme theme
    property bool running: true

    width: 14
    height: 14
    name: "progress.indicator"
    color: theme.secondary
    Accessible.role: Accessible.Indicator
    Accessible.name: qsTr("In progress")

    RotationAnimation on rotation {
        running: root.running && root.visible
        from: 0
        to: 360
        duration: 900
        loops: Animation.Infinite
    }
}
