import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig
import PrinterConfig.Controls

// Baud rate, cutter, beeper, density, font and character set, sent together by "Set".
SettingsForm {
    id: view
    objectName: "basicSettingsView"
    property alias settings: screen.settings
    readonly property alias screen: screen
    signal openLanguagePicker()

    BasicSettingsModel {
        id: screen
    }

    FormSection {
        header: "Hardware"
        RowLayout {
            Layout.fillWidth: true
            Text {
                text: "Baud Rate"
                font: Theme.bodyFont
                color: Theme.ink
                Layout.fillWidth: true
            }
            AppComboBox {
                objectName: "baudRate"
                title: "Baud Rate"
                model: screen.baudRates.map(String)
                currentIndex: screen.baudRates.indexOf(view.settings ? view.settings.baudRate : 115200)
                onActivated: (index) => view.settings.baudRate = screen.baudRates[index]
                Layout.preferredWidth: 160
            }
        }
        AppSwitch {
            text: "Cutter Enabled"
            checked: view.settings ? view.settings.cutterEnabled : true
            onToggled: view.settings.cutterEnabled = checked
            Layout.fillWidth: true
        }
        AppSwitch {
            text: "Beeper Enabled"
            checked: view.settings ? view.settings.beeperEnabled : true
            onToggled: view.settings.beeperEnabled = checked
            Layout.fillWidth: true
        }
    }

    FormSection {
        header: "Print"
        RowLayout {
            Layout.fillWidth: true
            Text {
                text: "Print Density"
                font: Theme.bodyFont
                color: Theme.ink
                Layout.fillWidth: true
            }
            SegmentedPicker {
                title: "Print Density"
                model: ["Light", "Medium", "Dark"]
                currentIndex: view.settings ? view.settings.density : 1
                onActivated: (index) => view.settings.density = index
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Text {
                text: "Font"
                font: Theme.bodyFont
                color: Theme.ink
                Layout.fillWidth: true
            }
            SegmentedPicker {
                title: "Font"
                model: ["12x24", "9x17"]
                currentIndex: screen.useFont12x24 ? 0 : 1
                onActivated: (index) => screen.useFont12x24 = (index === 0)
            }
        }
        PlainButton {
            Layout.fillWidth: true
            text: "Language / Codepage"
            Accessible.description: screen.languageTitle
            onClicked: view.openLanguagePicker()
            contentItem: RowLayout {
                spacing: 8
                Text {
                    text: "Language / Codepage"
                    font: Theme.bodyFont
                    color: Theme.ink
                }
                Item { Layout.fillWidth: true }
                Text {
                    objectName: "languageTitle"
                    text: screen.languageTitle
                    font: Theme.bodyFont
                    color: Theme.inkSecondary
                    elide: Text.ElideRight
                    Layout.maximumWidth: 300
                }
                Icon {
                    symbol: "chevron.right"
                    size: 14
                    color: Theme.inkSecondary
                }
            }
        }
    }

    FormSection {
        footer: "Settings are sent immediately over the current connection."
        SettingButton {
            title: "Set"
            Layout.fillWidth: true
            onClicked: screen.set()
        }
    }
}
