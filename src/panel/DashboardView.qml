import QtQuick
import Velmo.Panel

// The panel's content: update banner, header with the status badge, the
// main content, and the footer with times and buttons. It draws the panel's
// rounded background and hairline border, and reports its height to its
// owner on every change.
Rectangle {
    id: root

    required property DashboardModel dashboard
    readonly property PanelTheme theme: dashboard.theme
    readonly property bool reduceMotion: dashboard.reduceMotion

    implicitWidth: 320
    implicitHeight: column.implicitHeight
    width: implicitWidth
    height: implicitHeight
    radius: 12
    color: theme.window

    function reportSize() {
        root.dashboard.resize(root.width, root.implicitHeight)
    }
    onImplicitHeightChanged: Qt.callLater(reportSize)
    onWidthChanged: Qt.callLater(reportSize)
    Component.onCompleted: reportSize()

    Shortcut {
        sequence: "Ctrl+R"
        onActivated: root.dashboard.refresh()
    }
    Shortcut {
        sequence: "Ctrl+,"
        onActivated: root.dashboard.openSettings()
    }
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: root.dashboard.quit()
    }

    Column {
        id: column
        width: parent.width

        move: Transition {
            NumberAnimation {
                property: "y"
                duration: 200
                easing.type: Easing.OutCubic
            }
        }

        UpdateBanner {
            id: banner
            objectName: "banner"
            width: parent.width
            model: root.dashboard.banner
            theme: root.theme
            reduceMotion: root.reduceMotion
        }

        Item {
            width: parent.width
            implicitHeight: header.implicitHeight + 20

            Row {
                id: header
                x: 14
                y: 10
                width: parent.width - 28
                spacing: 8

                BrandMark {
                    width: 15
                    height: 18
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("Velmo Usage")
                    font: root.theme.title
                    color: root.theme.primary
                }
            }
            StatusBadge {
                anchors.right: parent.right
                anchors.rightMargin: 14
                anchors.verticalCenter: header.verticalCenter
                model: root.dashboard.badge
                theme: root.theme
            }
        }

        Divider {
            theme: root.theme
        }

        DashboardContent {
            width: parent.width
            dashboard: root.dashboard
        }

        Divider {
            theme: root.theme
        }

        Footer {
            width: parent.width
            dashboard: root.dashboard
        }
    }

    // The hairline edge that follows the panel's rounded shape.
    Rectangle {
        anchors.fill: parent
        radius: root.radius
        color: "transparent"
        border.width: 1
        border.color: root.theme.hairline
    }
}
