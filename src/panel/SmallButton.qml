import QtQuick
import QtQuick.Controls.Fusion
import Velmo.Panel

// A compact push button in the desktop's style.
Button {
    id: root

    required property PanelTheme theme

    font: theme.body
    padding: 4
    leftPadding: 12
    rightPadding: 12
    focusPolicy: Qt.NoFocus
}
