import QtQuick
import QtQuick.Templates as T
import Velmo.Settings

// A row of equally wide segments on a soft track, the chosen one raised.
// Choosing asks the owner (selected); the raised segment follows `current`.
Rectangle {
    id: root

    required property FormTheme theme
    property var labels: []
    property int current: -1
    signal selected(int index)

    readonly property real segmentWidth: {
        let widest = 0
        for (let i = 0; i < measure.count; ++i)
            widest = Math.max(widest, measure.itemAt(i).implicitWidth)
        return widest + 24
    }

    implicitWidth: segmentWidth * labels.length + 4
    implicitHeight: 30
    radius: 8
    color: theme.control
    Accessible.role: Accessible.PageTabList

    Repeater {
        id: measure
        model: root.labels
        Text {
            visible: false
            text: modelData
            font: root.theme.row
        }
    }

    Rectangle {
        objectName: "chosenSegment"
        visible: root.current >= 0
        x: 2 + root.current * root.segmentWidth
        y: 2
        width: root.segmentWidth
        height: parent.height - 4
        radius: 6
        color: root.theme.raised
        border.width: 1
        border.color: root.theme.cardBorder

        Behavior on x {
            NumberAnimation {
                duration: 180
                easing.type: Easing.OutCubic
            }
        }
    }

    Row {
        x: 2
        y: 2

        Repeater {
            model: root.labels

            T.AbstractButton {
                id: segment
                required property int index
                required property string modelData
                width: root.segmentWidth
                height: root.height - 4
                text: modelData
                focusPolicy: Qt.TabFocus
                Accessible.role: Accessible.PageTab
                Accessible.checked: index === root.current
                onClicked: root.selected(index)

                contentItem: Text {
                    text: segment.text
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    font: root.theme.row
                    color: segment.index === root.current || segment.hovered ? root.theme.primary
                                                                              : root.theme.secondary
                }
                background: Rectangle {
                    radius: 6
                    color: "transparent"
                    border.width: segment.visualFocus ? 2 : 0
                    border.color: root.theme.accent
                }
            }
        }
    }
}
