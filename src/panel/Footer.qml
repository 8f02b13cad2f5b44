import QtQuick
import Velmo.Panel

// When the data was fetched and when it will be next, and four buttons.
Item {
    id: root

    required property DashboardModel dashboard
    readonly property FooterModel footer: dashboard.footer
    readonly property PanelTheme theme: dashboard.theme

    implicitHeight: Math.max(times.implicitHeight, buttons.implicitHeight) + 16

    Column {
        id: times
        x: 14
        anchors.verticalCenter: parent.verticalCenter
        spacing: 1

        Text {
            text: root.footer.updated
            textFormat: Text.PlainText
            font: root.theme.meta
            color: root.theme.secondary
        }
        RollingText {
            objectName: "footerNext"
            visible: root.footer.next !== ""
            text: root.footer.next
            font: root.theme.meta
            color: root.theme.secondary
            roll: false
            duration: 200
        }
    }

    Row {
        id: buttons
        anchors.right: parent.right
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10

        FooterButton {
            objectName: "refreshButton"
            icon: "arrow.clockwise"
            help: qsTr("Refresh now (Ctrl+R)")
            spinning: root.footer.refreshing
            enabled: !root.footer.refreshing
            theme: root.theme
            reduceMotion: root.dashboard.reduceMotion
            onClicked: root.dashboard.refresh()
        }
        FooterButton {
            icon: "safari"
            help: qsTr("Open console")
            theme: root.theme
            reduceMotion: root.dashboard.reduceMotion
            onClicked: root.dashboard.openConsole()
        }
        FooterButton {
            icon: "gearshape"
            help: qsTr("Settings (Ctrl+,)")
            theme: root.theme
            reduceMotion: root.dashboard.reduceMotion
            onClicked: root.dashboard.openSettings()
        }
        FooterButton {
            icon: "power"
            help: qsTr("Quit (Ctrl+Q)")
            theme: root.theme
            reduceMotion: root.dashboard.reduceMotion
            onClicked: root.dashboard.quit()
        }
    }
}
