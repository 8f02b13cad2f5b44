import QtQuick
import QtQuick.Templates as T
import Velmo.Panel
import Velmo.Settings

// The settings form: six grouped sections on the window's background. It
// scrolls when the window is shorter than the form; its implicit height is
// the whole form (the screenshot shows it all).
Rectangle {
    id: root

    required property SettingsModel settings
    readonly property FormTheme theme: settings.theme
    readonly property AccountModel account: settings.account
    readonly property MenuBarModel menuBar: settings.menuBar
    readonly property LaunchAtLoginModel launchAtLogin: settings.launchAtLogin
    readonly property UpdatesModel updates: settings.updates
    readonly property AdvancedModel advanced: settings.advanced

    implicitWidth: 440
    implicitHeight: form.implicitHeight
    color: theme.window

    Shortcut {
        sequence: "Ctrl+W"
        onActivated: root.settings.close()
    }
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: root.settings.quit()
    }

    Flickable {
        id: scroller
        objectName: "scroller"
        anchors.fill: parent
        contentWidth: width
        contentHeight: form.implicitHeight
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        T.ScrollBar.vertical: T.ScrollBar {
            id: scrollBar
            policy: T.ScrollBar.AlwaysOn
            visible: scroller.contentHeight > scroller.height
            padding: 3
            implicitWidth: implicitContentWidth + leftPadding + rightPadding
            implicitHeight: implicitContentHeight + topPadding + bottomPadding
            contentItem: Rectangle {
                implicitWidth: scrollBar.hovered || scrollBar.pressed ? 8 : 5
                radius: width / 2
                color: root.theme.primary
                opacity: scrollBar.pressed ? 0.5 : scrollBar.hovered || scrollBar.active ? 0.35 : 0.2
            }
        }

        // A click on the background takes the keyboard from the text field.
        MouseArea {
            width: scroller.contentWidth
            height: scroller.contentHeight
            onPressed: mouse => {
                scroller.forceActiveFocus()
                mouse.accepted = false
            }
        }

        Column {
            id: form
            x: 20
            width: scroller.width - 40
            topPadding: 18
            bottomPadding: 22
            spacing: 22

            FormSection {
                objectName: "accountSection"
                theme: root.theme
                title: qsTr("Account")
                footer: root.settings.withCode(qsTr("Shows usage for your whole account. Sign in with your browser, or with `velmo login` in the CLI. API keys are not supported."))

                FormRow {
                    theme: root.theme
                    title: qsTr("Signed in via")

                    Column {
                        spacing: 2

                        Text {
                            objectName: "credentialSource"
                            anchors.right: parent.right
                            text: root.account.signedIn ? root.account.source : qsTr("Not signed in")
                            textFormat: Text.PlainText
                            font: root.theme.row
                            color: root.account.signedIn ? root.theme.primary : root.theme.secondary
                        }
                        Text {
                            objectName: "maskedToken"
                            visible: root.account.signedIn
                            anchors.right: parent.right
                            text: root.account.masked
                            textFormat: Text.PlainText
                            font: root.theme.mono
                            color: root.theme.secondary
                        }
                    }
                }

                FormBlock {
                    objectName: "statusNote"
                    visible: root.account.note !== ""
                    theme: root.theme

                    NoteLabel {
                        theme: root.theme
                        icon: root.account.noteIcon
                        text: root.account.note
                        color: root.account.noteColor
                    }
                }

                FormBlock {
                    theme: root.theme

                    Row {
                        spacing: 8

                        FormButton {
                            objectName: "signInButton"
                            theme: root.theme
                            text: root.account.signInTitle
                            busy: root.account.busy
                            enabled: !root.account.busy
                            onClicked: root.account.signIn()
                        }
                        FormButton {
                            objectName: "cancelButton"
                            visible: root.account.canCancel
                            theme: root.theme
                            text: qsTr("Cancel")
                            onClicked: root.account.cancel()
                        }
                        FormButton {
                            objectName: "signOutButton"
                            visible: root.account.canSignOut
                            theme: root.theme
                            text: qsTr("Sign Out")
                            destructive: true
                            onClicked: root.account.signOut()
                        }
                    }
                    Text {
                        objectName: "signInError"
                        visible: root.account.error !== ""
                        width: parent.width
                        text: root.account.error
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: root.theme.caption
                        color: root.theme.red
                    }
                }

                FormRow {
                    theme: root.theme
                    title: qsTr("velmo CLI")

                    Text {
                        objectName: "cliStatus"
                        width: Math.min(implicitWidth, 250)
                        horizontalAlignment: Text.AlignRight
                        text: root.settings.withCode(root.account.cliStatus)
                        textFormat: Text.RichText
                        wrapMode: Text.Wrap
                        font: root.theme.caption
                        color: root.theme.secondary
                    }
                }

                FormRow {
                    visible: root.account.storage !== ""
                    theme: root.theme
                    title: qsTr("Session kept in")

                    Text {
                        objectName: "sessionStorage"
                        width: Math.min(implicitWidth, 250)
                        horizontalAlignment: Text.AlignRight
                        text: root.account.storage
                        textFormat: Text.PlainText
                        elide: Text.ElideMiddle
                        font: root.theme.caption
                        color: root.theme.secondary
                    }
                }
            }

            FormSection {
                theme: root.theme
                title: qsTr("Menu Bar")

                FormRow {
                    theme: root.theme
                    title: qsTr("Show")

                    SegmentedPicker {
                        objectName: "stylePicker"
                        theme: root.theme
                        labels: root.menuBar.styles
                        current: root.menuBar.styleIndex
                        onSelected: index => root.menuBar.select(index)
                    }
                }
                FormRow {
                    theme: root.theme
                    title: qsTr("Refresh")

                    Text {
                        text: qsTr("Every 15 minutes")
                        textFormat: Text.PlainText
                        font: root.theme.row
                        color: root.theme.secondary
                    }
                }
                FormRow {
                    theme: root.theme
                    title: qsTr("Last update")

                    Row {
                        spacing: 10

                        Text {
                            objectName: "lastUpdate"
                            anchors.verticalCenter: parent.verticalCenter
                            text: root.menuBar.lastUpdate
                            textFormat: Text.PlainText
                            font: root.theme.row
                            color: root.theme.secondary
                        }
                        Item {
                            anchors.verticalCenter: parent.verticalCenter
                            width: refreshButton.implicitWidth
                            height: refreshButton.implicitHeight

                            Spinner {
                                objectName: "refreshSpinner"
                                anchors.centerIn: parent
                                visible: root.menuBar.refreshing
                                running: visible
                                theme: root.theme
                            }
                            FormButton {
                                id: refreshButton
                                objectName: "refreshButton"
                                visible: !root.menuBar.refreshing
                                theme: root.theme
                                text: qsTr("Refresh")
                                enabled: root.menuBar.canRefresh
                                onClicked: root.menuBar.refresh()
                            }
                        }
                    }
                }
            }

            FormSection {
                theme: root.theme
                title: qsTr("General")

                FormRow {
                    objectName: "launchRow"
                    theme: root.theme
                    title: qsTr("Launch at login")
                    subtitle: root.launchAtLogin.note
                    alert: root.launchAtLogin.error

                    FormSwitch {
                        objectName: "launchSwitch"
                        theme: root.theme
                        checked: root.launchAtLogin.enabled
                        enabled: root.launchAtLogin.available
                        Accessible.name: qsTr("Launch at login")
                        onClicked: root.launchAtLogin.setEnabled(!checked)
                    }
                }
                FormRow {
                    theme: root.theme
                    title: qsTr("Notify when the balance runs low")

                    FormSwitch {
                        objectName: "notifySwitch"
                        theme: root.theme
                        checked: root.settings.notifiesLowBalance
                        Accessible.name: qsTr("Notify when the balance runs low")
                        onClicked: root.settings.setNotifiesLowBalance(!checked)
                    }
                }
            }

            FormSection {
                objectName: "updatesSection"
                visible: root.updates.shown
                theme: root.theme
                title: qsTr("Updates")
                footer: root.settings.withCode(qsTr("Checks hourly in the background. A new version shows up as a banner in the panel; closing the banner hides it until the next check."))

                FormRow {
                    theme: root.theme
                    title: qsTr("Automatically check for updates")

                    FormSwitch {
                        objectName: "automaticSwitch"
                        theme: root.theme
                        checked: root.updates.automaticallyChecks
                        Accessible.name: qsTr("Automatically check for updates")
                        onClicked: root.updates.setAutomaticallyChecks(!checked)
                    }
                }
                FormRow {
                    theme: root.theme
                    title: qsTr("Updates")

                    FormButton {
                        objectName: "checkButton"
                        theme: root.theme
                        text: qsTr("Check for Updates…")
                        enabled: root.updates.canCheck
                        onClicked: root.updates.check()
                    }
                }
            }

            FormSection {
                theme: root.theme
                title: qsTr("Advanced")
                footer: root.settings.withCode(qsTr("API base URL. Leave empty for production."))

                FormRow {
                    theme: root.theme
                    title: qsTr("Base URL")
                    fill: true

                    Row {
                        width: parent.width
                        spacing: 8

                        FormTextField {
                            objectName: "baseURLField"
                            width: parent.width - applyButton.width - parent.spacing
                            theme: root.theme
                            text: root.advanced.draft
                            placeholderText: root.advanced.placeholder
                            Accessible.name: qsTr("Base URL")
                            onTextEdited: root.advanced.draft = text
                            onAccepted: root.advanced.apply()
                        }
                        FormButton {
                            id: applyButton
                            objectName: "applyButton"
                            theme: root.theme
                            text: qsTr("Apply")
                            enabled: root.advanced.canApply
                            onClicked: root.advanced.apply()
                        }
                    }
                }
            }

            FormSection {
                theme: root.theme
                title: qsTr("About")

                FormRow {
                    theme: root.theme
                    title: qsTr("Version")

                    Text {
                        objectName: "version"
                        text: root.settings.version
                        textFormat: Text.PlainText
                        font: root.theme.row
                        color: root.theme.secondary
                    }
                }
            }
        }
    }
}
