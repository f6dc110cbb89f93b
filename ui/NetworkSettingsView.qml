import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig
import PrinterConfig.Controls

// The printer's name, and dynamic or static addressing for its Ethernet and Wi-Fi interfaces.
SettingsForm {
    id: view
    objectName: "networkSettingsView"
    property alias settings: screen.settings
    readonly property alias screen: screen

    NetworkSettingsModel {
        id: screen
    }

    FormSection {
        footer: "Default name: Thermal"
        SettingTextField {
            title: "Printer Name"
            text: view.settings ? view.settings.printerName : ""
            onTextChanged: if (view.settings) view.settings.printerName = text
            Layout.fillWidth: true
        }
        SettingButton {
            title: "Set Printer Name"
            Layout.fillWidth: true
            onClicked: screen.setPrinterName()
        }
    }

    FormSection {
        header: "Ethernet IP Settings"
        AppSwitch {
            text: "Use Static IP"
            Accessible.name: "Ethernet: Use Static IP"
            checked: view.settings ? view.settings.useStaticIP : false
            onToggled: view.settings.useStaticIP = checked
            Layout.fillWidth: true
        }
        AddressFields {
            visible: view.settings ? view.settings.useStaticIP : false
            address: view.settings ? view.settings.staticIP : ""
            mask: view.settings ? view.settings.subnet : ""
            gateway: view.settings ? view.settings.gateway : ""
            onAddressEdited: (value) => view.settings.staticIP = value
            onMaskEdited: (value) => view.settings.subnet = value
            onGatewayEdited: (value) => view.settings.gateway = value
        }
        SettingButton {
            readonly property bool isStatic: view.settings ? view.settings.useStaticIP : false
            title: isStatic ? "Set Ethernet Static IP" : "Set Ethernet Dynamic IP"
            Layout.fillWidth: true
            onClicked: isStatic ? screen.setEthernetStaticIP() : screen.setEthernetDynamicIP()
        }
    }

    FormSection {
        header: "WiFi IP Settings"
        AppSwitch {
            text: "Use Static IP"
            Accessible.name: "Wi\u2011Fi: Use Static IP"
            checked: screen.useWiFiStaticIP
            onToggled: screen.useWiFiStaticIP = checked
            Layout.fillWidth: true
        }
        AddressFields {
            visible: screen.useWiFiStaticIP
            address: screen.wifiStaticIP
            mask: screen.wifiSubnet
            gateway: screen.wifiGateway
            onAddressEdited: (value) => screen.wifiStaticIP = value
            onMaskEdited: (value) => screen.wifiSubnet = value
            onGatewayEdited: (value) => screen.wifiGateway = value
        }
        SettingButton {
            title: screen.useWiFiStaticIP ? "Set WiFi Static IP" : "Set WiFi Dynamic IP"
            Layout.fillWidth: true
            onClicked: screen.useWiFiStaticIP ? screen.setWiFiStaticIP() : screen.setWiFiDynamicIP()
        }
    }

}
