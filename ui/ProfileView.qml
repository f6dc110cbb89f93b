import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig
import PrinterConfig.Controls

// A profile: the values the screens hold saved to a file (the user picks the sections), or a
// profile file applied to this printer: what it will send, then each command as it goes.
SettingsForm {
    id: view
    objectName: "profileView"
    property alias settings: screen.settings
    readonly property alias screen: screen
    property bool saving: true

    ProfileModel {
        id: screen
    }

    FormSection {
        visible: view.saving
        header: "Sections"
        footer: "The profile holds what the screens hold now, passwords and certificates included."
        Repeater {
            model: screen.sections
            delegate: AppSwitch {
                required property var modelData
                text: modelData.title
                checked: screen.chosenSections.indexOf(modelData.key) >= 0
                onToggled: {
                    const keys = screen.chosenSections.filter(k => k !== modelData.key)
                    if (checked)
                        keys.push(modelData.key)
                    screen.chosenSections = keys
                }
                Layout.fillWidth: true
            }
        }
    }

    FormSection {
        header: "Profile File"
        footer: view.saving ? "Only you can read the file: it holds passwords."
                            : "A profile saved by this application or written by hand (JSON)."
        SettingTextField {
            objectName: "profilePath"
            title: "File"
            text: screen.path
            onTextChanged: screen.path = text
            Layout.fillWidth: true
        }
        SettingButton {
            title: view.saving ? "Save Profile" : "Read Profile"
            Layout.fillWidth: true
            onClicked: view.saving ? screen.save() : screen.load()
        }
    }

    FormSection {
        visible: !view.saving && (screen.problems !== "" || screen.warning !== "")
        header: screen.problems !== "" ? "Not a Profile to Apply" : "Warning"
        Text {
            text: screen.problems !== "" ? screen.problems : screen.warning
            textFormat: Text.PlainText // names and texts from files are data
            font: Theme.bodyFont
            color: screen.problems !== "" ? Theme.danger : Theme.ink
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    FormSection {
        visible: !view.saving && screen.loaded
        header: "Commands"
        footer: screen.status
        Repeater {
            model: screen.steps
            delegate: RowLayout {
                required property var modelData
                Layout.fillWidth: true
                spacing: 10
                Text {
                    text: modelData.section + " \u00B7 " + modelData.line
                    textFormat: Text.PlainText // names and texts from files are data
                    font: Theme.captionFont
                    color: Theme.ink
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                Text {
                    text: modelData.state
                    textFormat: Text.PlainText // names and texts from files are data
                    font: Theme.captionFont
                    color: modelData.state.startsWith("failed") ? Theme.danger
                         : modelData.state === "delivered" ? Theme.success : Theme.inkSecondary
                    elide: Text.ElideRight
                    Layout.maximumWidth: 220
                }
                Accessible.role: Accessible.StaticText
                Accessible.name: modelData.section + ": " + modelData.line + ". " + modelData.state
            }
        }
        SettingButton {
            title: "Apply"
            enabled: screen.loaded && !screen.transferring
            Layout.fillWidth: true
            onClicked: screen.apply()
        }
    }
}
