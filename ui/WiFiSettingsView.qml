import QtQuick
import QtQuick.Layouts
import PrinterConfig
import PrinterConfig.Controls

// The name and password of the 2.4 GHz network the printer joins.
SettingsForm {
    id: view
    objectName: "wifiSettingsView"
    property alias settings: screen.settings
    readonly property alias screen: screen

    WiFiSettingsModel {
        id: screen
    }

    FormSection {
        SettingTextField {
            title: "WIFI Name"
            text: view.settings ? view.settings.wifiName : ""
            onTextChanged: if (view.settings) view.settings.wifiName = text
            Layout.fillWidth: true
        }
        SettingTextField {
            title: "WIFI Password"
            isSecure: true
            text: view.settings ? view.settings.wifiPassword : ""
            onTextChanged: if (view.settings) view.settings.wifiPassword = text
            Layout.fillWidth: true
        }
        Text {
            text: "Note: 5G WIFI not supported"
            font: Theme.captionFont
            color: Theme.inkSecondary
            Accessible.name: text
        }
        SettingButton {
            title: "Set"
            Layout.fillWidth: true
            onClicked: screen.set()
        }
    }

}
