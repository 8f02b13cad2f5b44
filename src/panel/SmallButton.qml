import QtQuick
import QtQuick.Controls.Fusion
import Velmo.Panel

// A compact push button in the desktop's style, as wide as its title.
Button {
    id: root

    required property PanelTheme theme

    font: theme.body
    topPadding: 3
    bottomPadding: 3
    leftPadding: 10
    rightPadding: 10
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    focusPolicy: Qt.NoFocus
}
