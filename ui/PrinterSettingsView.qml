import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts
import PrinterConfig
import PrinterConfig.Controls

// The settings sheet over the main window: the hub of categories, or one category's screen.
// Every opening starts from fresh values; "Close" closes it from wherever it stands.
Popup {
    id: sheet
    property alias content: sheetModel.content
    property alias connectionType: sheetModel.connectionType
    property alias initialSection: sheetModel.initialSection
    readonly property alias settings: sheetModel
    signal dismissed()

    PrinterSettingsModel {
        id: sheetModel
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.max(640, Math.min(720, parent ? parent.width - 40 : 720))
    height: Math.max(580, Math.min(660, parent ? parent.height - 40 : 660))
    modal: true
    visible: true
    // The sheet holds the keyboard while it is open: it takes the focus, Tab stays inside it,
    // and Escape leaves the codepage list, else closes the sheet (see the content's Keys).
    focus: true
    closePolicy: Popup.NoAutoClose
    padding: 0
    onClosed: dismissed()
    T.Overlay.modal: Rectangle { color: Qt.rgba(0.12, 0.14, 0.16, 0.28) }
    background: Rectangle {
        radius: 16
        color: Theme.paper
        border.color: Theme.hairline
        PaperBackground {
            anchors.fill: parent
            anchors.margins: 1
            radius: 15 // inside the border: the corners stay round
        }
    }

    // What the screen shown now is doing: a transfer's progress.
    readonly property var activeScreen: stack.currentItem && stack.currentItem.screen
                                        ? stack.currentItem.screen : null

    contentItem: ColumnLayout {
        spacing: 0
        focus: true
        Accessible.role: Accessible.Dialog
        Accessible.name: sheetModel.navigationTitle
        Keys.onEscapePressed: stack.depth > 1 ? stack.pop() : sheet.close()

        // Navigation bar: "Close" in the cancellation place, the title in the middle, and
        // "Back" while a list is pushed over a screen.
        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 52
            RowLayout {
                anchors.left: parent.left
                anchors.leftMargin: 14
                anchors.verticalCenter: parent.verticalCenter
                spacing: 4
                ToolbarButton {
                    text: "Close"
                    onClicked: sheet.close()
                }
                BackButton {
                    visible: stack.depth > 1
                    onClicked: stack.pop()
                }
            }
            Text {
                anchors.centerIn: parent
                text: stack.depth > 1 ? "Language / Codepage" : sheetModel.navigationTitle
                font: Theme.buttonFont
                color: Theme.ink
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Theme.hairline
            }
        }

        // A long transfer (a certificate over Bluetooth is hundreds of confirmed writes) shows
        // how much has reached the printer.
        ProgressBar {
            id: transfer
            objectName: "transferProgress"
            readonly property bool running: sheet.activeScreen !== null
                                            && sheet.activeScreen.transferring
                                            && sheet.activeScreen.bytesTotal > 0
            visible: running
            Layout.fillWidth: true
            Layout.leftMargin: 14
            Layout.rightMargin: 14
            Layout.topMargin: 6
            from: 0
            to: running ? sheet.activeScreen.bytesTotal : 1
            value: running ? sheet.activeScreen.bytesSent : 0
            Accessible.role: Accessible.ProgressBar
            Accessible.name: running ? "Sending to the printer: " + Math.round(value) + " of "
                                       + Math.round(to) + " bytes"
                                     : "Sending to the printer"
        }

        StackView {
            id: stack
            focus: true
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            initialItem: screenFor(sheetModel.currentSection)
            // A hub row replaces the hub at once; the language list slides over its screen.
            replaceEnter: null
            replaceExit: null
        }
    }

    Connections {
        target: sheetModel
        function onCurrentSectionChanged() {
            stack.replace(null, sheet.screenFor(sheetModel.currentSection))
        }
    }

    function screenFor(section) {
        switch (section) {
        case "hub": return hub
        case "basic": return basic
        case "network": return network
        case "wifi": return wifi
        case "saveProfile": return saveProfile
        case "applyProfile": return applyProfile
        default: return mqtt
        }
    }

    Component {
        id: basic
        BasicSettingsView {
            id: basicView
            settings: sheetModel
            onOpenLanguagePicker: stack.push(languagePicker, { screen: basicView.screen })
        }
    }
    Component {
        id: languagePicker
        LanguagePickerView {
            onDismiss: stack.pop()
        }
    }
    Component {
        id: network
        NetworkSettingsView {
            settings: sheetModel
        }
    }
    Component {
        id: wifi
        WiFiSettingsView {
            settings: sheetModel
        }
    }
    Component {
        id: mqtt
        MQTTSettingsView {
            settings: sheetModel
        }
    }

    Component {
        id: saveProfile
        ProfileView {
            settings: sheetModel
            saving: true
        }
    }
    Component {
        id: applyProfile
        ProfileView {
            settings: sheetModel
            saving: false
        }
    }

    Component {
        id: hub
        ScrollView {
            ScrollBar.vertical.policy: ScrollBar.AsNeeded
            contentWidth: availableWidth
            ColumnLayout {
                width: parent.width
                spacing: 20
                Item { Layout.preferredHeight: 8 }
                Text {
                    Layout.leftMargin: 28
                    Layout.rightMargin: 28
                    Layout.fillWidth: true
                    text: "Pick a category. Changes are sent over the current connection."
                    font: Theme.captionFont
                    color: Theme.inkSecondary
                    wrapMode: Text.WordWrap
                    Accessible.name: text
                }
                Rectangle {
                    Layout.fillWidth: true
                    Layout.leftMargin: 14
                    Layout.rightMargin: 14
                    implicitHeight: rows.implicitHeight + 16
                    radius: 14
                    color: Qt.rgba(1, 1, 1, 0.6)
                    border.color: Theme.hairline
                    ColumnLayout {
                        id: rows
                        anchors.fill: parent
                        anchors.margins: 8
                        spacing: 6
                        Repeater {
                            model: sheetModel.hubRows
                            delegate: ColumnLayout {
                                required property var modelData
                                required property int index
                                spacing: 6
                                Layout.fillWidth: true
                                Rectangle {
                                    visible: index > 0
                                    Layout.fillWidth: true
                                    Layout.leftMargin: 62
                                    height: 1
                                    color: Theme.hairline
                                }
                                AbstractButton {
                                    id: rowButton
                                    Layout.fillWidth: true
                                    padding: 6
                                    hoverEnabled: true
                                    text: modelData.title
                                    Accessible.role: Accessible.Button
                                    Accessible.name: modelData.title
                                    Accessible.description: modelData.subtitle
                                    Accessible.onPressAction: clicked()
                                    onClicked: sheetModel.enter(modelData.section)
                                    background: Rectangle {
                                        radius: 10
                                        color: rowButton.down ? Theme.accentTint
                                                              : (rowButton.hovered ? Qt.rgba(1, 1, 1, 0.5) : "transparent")
                                        FocusRing { shown: rowButton.visualFocus }
                                    }
                                    contentItem: SettingRowView {
                                        icon: modelData.icon
                                        title: modelData.title
                                        subtitle: modelData.subtitle
                                    }
                                }
                            }
                        }
                    }
                }
                // Profiles: the same settings for many printers.
                RowLayout {
                    Layout.fillWidth: true
                    Layout.leftMargin: 14
                    Layout.rightMargin: 14
                    spacing: 10
                    Repeater {
                        model: [{ title: "Save as Profile\u2026", section: "saveProfile",
                                  description: "Save what the screens hold to a file" },
                                { title: "Apply Profile\u2026", section: "applyProfile",
                                  description: "Send a saved profile to this printer" }]
                        delegate: PrimaryButton {
                            required property var modelData
                            text: modelData.title
                            filled: false
                            Accessible.description: modelData.description
                            Layout.fillWidth: true
                            onClicked: sheetModel.enter(modelData.section)
                        }
                    }
                }
                Item { Layout.preferredHeight: 20 }
            }
        }
    }

}
