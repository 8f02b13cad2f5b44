import QtQuick
import QtQuick.Controls.Fusion
import Velmo.Panel

// Spend per day as bars in the brand colour. The bars rise once when the
// chart first shows; the bar under the pointer is drawn in full colour.
Item {
    id: root

    required property DailyBarsModel model
    required property PanelTheme theme
    property bool reduceMotion: false
    property bool risen: false
    readonly property real barWidth: model.barWidth(width, model.count)

    implicitHeight: model.chartHeight
    onVisibleChanged: if (visible) risen = true
    Component.onCompleted: if (visible) risen = true

    Row {
        anchors.fill: parent
        spacing: 2

        Repeater {
            model: root.model

            Item {
                id: cell
                required property int index
                required property real barHeight
                required property real fillOpacity
                required property string tooltip

                width: root.barWidth
                height: root.height

                Rectangle {
                    anchors.bottom: parent.bottom
                    width: parent.width
                    height: cell.barHeight
                    radius: Math.min(1.5, width / 2)
                    color: root.theme.brand
                    opacity: cell.fillOpacity
                    transform: Scale {
                        origin.y: cell.barHeight
                        yScale: root.risen || root.reduceMotion ? 1 : 0.02

                        Behavior on yScale {
                            enabled: !root.reduceMotion
                            SequentialAnimation {
                                PauseAnimation {
                                    duration: cell.index * 12
                                }
                                NumberAnimation {
                                    duration: 450
                                    easing.type: Easing.OutCubic
                                }
                            }
                        }
                    }

                    Behavior on height {
                        NumberAnimation {
                            duration: 400
                            easing.type: Easing.OutCubic
                        }
                    }
                    Behavior on opacity {
                        NumberAnimation {
                            duration: 150
                            easing.type: Easing.OutCubic
                        }
                    }
                }

                MouseArea {
                    id: hover
                    anchors.fill: parent
                    hoverEnabled: true
                    onEntered: root.model.enter(cell.index)
                    onExited: root.model.leave(cell.index)
                }

                ToolTip.visible: hover.containsMouse
                ToolTip.delay: 600
                ToolTip.text: cell.tooltip
            }
        }
    }
}
