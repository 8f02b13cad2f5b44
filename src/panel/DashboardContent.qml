import QtQuick
import QtQuick.Controls.Fusion
import Velmo.Panel

// The main area: an empty state, or the balance and usage sections with a
// loading row or an error line.
Item {
    id: root

    required property DashboardModel dashboard
    readonly property ContentModel content: dashboard.content
    readonly property PanelTheme theme: dashboard.theme
    readonly property bool showsData: content.kind === ContentModel.Data

    implicitHeight: column.implicitHeight + 24

    Column {
        id: column
        x: 14
        y: 12
        width: parent.width - 28
        spacing: 14

        add: Transition {
            NumberAnimation {
                property: "opacity"
                from: 0
                to: 1
                duration: 250
                easing.type: Easing.OutCubic
            }
        }
        move: Transition {
            NumberAnimation {
                property: "y"
                duration: 250
                easing.type: Easing.OutCubic
            }
            // A move that interrupts an item's fade-in would leave it half
            // (or wholly) transparent: the move finishes the fade.
            NumberAnimation {
                property: "opacity"
                to: 1
                duration: 250
                easing.type: Easing.OutCubic
            }
        }

        EmptyStateView {
            objectName: "emptyState"
            width: parent.width
            visible: !root.showsData
            theme: root.theme
            icon: root.content.emptyIcon
            title: root.content.emptyTitle
            detail: root.content.emptyDetail
            buttonTitle: root.content.emptyButton
            onActivated: root.dashboard.openSettings()
        }

        BalanceSection {
            width: parent.width
            visible: root.showsData && root.content.showBalance
            model: root.dashboard.balance
            theme: root.theme
            reduceMotion: root.dashboard.reduceMotion
        }

        UsageSection {
            width: parent.width
            visible: root.showsData && root.content.showUsage
            model: root.dashboard.usage
            theme: root.theme
            reduceMotion: root.dashboard.reduceMotion
        }

        // No snapshot yet: a spinner with "Loading…" or the error.
        Item {
            width: parent.width
            visible: root.showsData && root.content.loading
            implicitHeight: loadingRow.implicitHeight + 40

            Row {
                id: loadingRow
                anchors.centerIn: parent
                spacing: 8

                BusyIndicator {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 16
                    height: 16
                    padding: 0
                    running: parent.parent.visible
                }
                Text {
                    objectName: "loadingText"
                    anchors.verticalCenter: parent.verticalCenter
                    width: Math.min(implicitWidth, column.width - 24)
                    text: root.content.loadingText
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font: root.theme.body
                    color: root.theme.secondary
                }
            }
        }

        // The last error beneath the data still on screen.
        Row {
            objectName: "errorLine"
            width: parent.width
            visible: root.showsData && root.content.errorLine !== ""
            spacing: 5

            SymbolIcon {
                y: 1
                width: 12
                height: 12
                name: "exclamationmark.triangle.fill"
                color: root.theme.orange
            }
            Text {
                width: parent.width - 17
                text: root.content.errorLine
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
                font: root.theme.label
                color: root.theme.orange
            }
        }
    }
}
