import QtQuick
import Velmo.Panel

// The available balance in large figures with its warning, the account
// total, and the plan, pay-as-you-go and key-limit rows.
Column {
    id: root

    required property BalanceModel model
    required property PanelTheme theme
    property bool reduceMotion: false

    spacing: 12

    Column {
        width: parent.width
        spacing: 2

        Text {
            text: qsTr("Available")
            font: root.theme.label
            color: root.theme.secondary
        }
        Item {
            width: parent.width
            implicitHeight: amount.implicitHeight

            RollingText {
                id: amount
                objectName: "heroAmount"
                text: root.model.available
                font: root.theme.hero
                color: root.model.heroColor
                roll: !root.reduceMotion
                rising: amount.lastDollars <= root.model.availableDollars
                duration: 450

                // Which way the digits roll: up when the amount grew.
                property double lastDollars: root.model.availableDollars
                Connections {
                    target: root.model
                    function onAvailableDollarsChanged() {
                        Qt.callLater(() => amount.lastDollars = root.model.availableDollars)
                    }
                }
            }
            Row {
                anchors.left: amount.right
                anchors.leftMargin: 8
                anchors.baseline: amount.baseline
                visible: root.model.statusText !== ""
                spacing: 4

                SymbolIcon {
                    anchors.verticalCenter: status.verticalCenter
                    width: 12
                    height: 12
                    name: root.model.statusIcon
                    color: root.model.heroColor
                }
                Text {
                    id: status
                    text: root.model.statusText
                    font: root.theme.label
                    color: root.model.heroColor
                }
            }
        }
        Text {
            visible: root.model.accountTotal !== ""
            text: root.model.accountTotal
            textFormat: Text.PlainText
            font: root.theme.meta
            color: root.theme.tertiary
        }
    }

    Column {
        width: parent.width
        spacing: 7

        BalanceRow {
            width: parent.width
            visible: root.model.plan.shown
            model: root.model.plan
            theme: root.theme
        }
        BalanceRow {
            width: parent.width
            visible: root.model.payAsYouGo.shown
            model: root.model.payAsYouGo
            theme: root.theme
        }
        Column {
            width: parent.width
            visible: root.model.keyLimit.shown
            spacing: 4

            BalanceRow {
                width: parent.width
                model: root.model.keyLimit
                theme: root.theme
            }
            // The share of the key's limit already spent.
            Rectangle {
                width: parent.width
                height: 4
                radius: 2
                color: root.theme.hairline

                Rectangle {
                    width: parent.width * root.model.keyLimitFraction
                    height: parent.height
                    radius: parent.radius
                    color: root.model.keyLimitTint
                }
            }
        }
    }
}
