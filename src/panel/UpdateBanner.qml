import QtQuick
import Velmo.Panel

// "Update available" with Install and a close button, on an accent wash,
// followed by a divider. It slides in from the top (fades under reduced
// motion) and leaves the same way before giving up its room.
Item {
    id: root

    required property UpdateBannerModel model
    required property PanelTheme theme
    property bool reduceMotion: false

    visible: model.shown || leaving.running
    implicitHeight: row.implicitHeight + 16 + 1
    clip: true

    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr("Update available: %1").arg(model.versionLine)

    Connections {
        target: root.model
        function onShownChanged() {
            if (root.model.shown) {
                leaving.stop()
                entering.restart()
            } else {
                entering.stop()
                leaving.restart()
            }
        }
    }

    Item {
        id: body
        width: parent.width
        height: parent.height

        // Rounded at the panel's top corners only.
        Rectangle {
            width: parent.width
            height: parent.height - 1
            radius: 12
            color: root.theme.accentWash
        }
        Rectangle {
            y: 12
            width: parent.width
            height: parent.height - 13
            color: root.theme.accentWash
        }

        Row {
            id: row
            x: 14
            y: 8
            width: parent.width - 28
            spacing: 8

            SymbolIcon {
                anchors.verticalCenter: parent.verticalCenter
                width: 16
                height: 16
                name: "arrow.down.circle.fill"
                color: root.theme.accent
            }
            Column {
                id: texts
                anchors.verticalCenter: parent.verticalCenter
                width: row.width - 16 - install.width - close.width - 3 * row.spacing
                spacing: 1

                Text {
                    text: qsTr("Update available")
                    font: root.theme.label
                    color: root.theme.primary
                }
                Text {
                    width: parent.width
                    text: root.model.versionLine
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font: root.theme.meta
                    color: root.theme.secondary
                }
            }
            SmallButton {
                id: install
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("Install")
                theme: root.theme
                onClicked: root.model.install()
            }
            FooterButton {
                id: close
                anchors.verticalCenter: parent.verticalCenter
                icon: "xmark"
                help: qsTr("Remind me later")
                theme: root.theme
                onClicked: root.model.dismiss()
            }
        }

        Divider {
            anchors.bottom: parent.bottom
            theme: root.theme
        }
    }

    ParallelAnimation {
        id: entering
        NumberAnimation {
            target: body
            property: "y"
            from: root.reduceMotion ? 0 : -root.height
            to: 0
            duration: 200
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            target: body
            property: "opacity"
            from: 0
            to: 1
            duration: 200
            easing.type: Easing.OutCubic
        }
    }
    ParallelAnimation {
        id: leaving
        NumberAnimation {
            target: body
            property: "y"
            to: root.reduceMotion ? 0 : -root.height
            duration: 200
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            target: body
            property: "opacity"
            to: 0
            duration: 200
            easing.type: Easing.OutCubic
        }
    }
}
