import QtQuick
import Velmo.Panel

// The period's totals in three tiles, the daily chart with its hover
// read-out, and the cache line.
Column {
    id: root

    required property UsageModel model
    required property PanelTheme theme
    property bool reduceMotion: false

    spacing: 8

    Item {
        width: parent.width
        implicitHeight: Math.max(header.implicitHeight, readout.implicitHeight)

        Text {
            id: header
            anchors.verticalCenter: parent.verticalCenter
            text: root.model.header
            textFormat: Text.PlainText
            font: root.theme.section
            color: root.theme.secondary
        }
        Text {
            id: readout
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: root.model.readout
            textFormat: Text.PlainText
            font: root.theme.meta
            color: root.theme.secondary
        }
    }

    Row {
        width: parent.width

        Repeater {
            model: [root.model.spend, root.model.requests, root.model.tokens]

            StatTile {
                required property StatTileModel modelData
                width: root.width / 3
                model: modelData
                theme: root.theme
            }
        }
    }

    DailyBars {
        objectName: "dailyBars"
        width: parent.width
        visible: root.model.bars.count > 0
        model: root.model.bars
        theme: root.theme
        reduceMotion: root.reduceMotion
    }

    Text {
        visible: root.model.cacheLine !== ""
        text: root.model.cacheLine
        textFormat: Text.PlainText
        font: root.theme.meta
        color: root.theme.tertiary
    }
}
