import QtQuick

// One line of text whose changes roll: the new text slides in (from below
// when `rising`) as the old one slides out, or, with `roll` off, the two
// cross-fade in place. The first text appears without animation.
Item {
    id: root

    property string text
    property font font
    property color color
    property bool roll: true
    property bool rising: true
    property int duration: 350
    property int horizontalAlignment: Text.AlignLeft

    implicitWidth: Math.max(current.implicitWidth, animation.running ? previous.implicitWidth : 0)
    implicitHeight: current.implicitHeight
    baselineOffset: current.baselineOffset
    clip: animation.running

    onTextChanged: {
        if (current.text === root.text)
            return
        previous.text = current.text
        current.text = root.text
        if (previous.text !== "")
            animation.restart()
    }
    Component.onCompleted: current.text = root.text

    Text {
        id: previous
        width: parent.width
        opacity: 0
        horizontalAlignment: root.horizontalAlignment
        textFormat: Text.PlainText
        font: root.font
        color: root.color
    }
    Text {
        id: current
        width: parent.width
        horizontalAlignment: root.horizontalAlignment
        textFormat: Text.PlainText
        font: root.font
        color: root.color
    }

    ParallelAnimation {
        id: animation
        readonly property real shift: root.roll ? current.implicitHeight * (root.rising ? 1 : -1) : 0
        NumberAnimation {
            target: current
            property: "y"
            from: animation.shift
            to: 0
            duration: root.duration
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            target: previous
            property: "y"
            from: 0
            to: -animation.shift
            duration: root.duration
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            target: current
            property: "opacity"
            from: 0
            to: 1
            duration: root.duration
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            target: previous
            property: "opacity"
            from: 1
            to: 0
            duration: root.duration
            easing.type: Easing.OutCubic
        }
    }
}
