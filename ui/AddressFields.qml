import QtQuick
import QtQuick.Layouts
import PrinterConfig.Controls

// The three texts of a static address.
ColumnLayout {
    id: fields
    property string address
    property string mask
    property string gateway
    signal addressEdited(string value)
    signal maskEdited(string value)
    signal gatewayEdited(string value)

    Layout.fillWidth: true
    spacing: 4
    SettingTextField {
        title: "IP Address"
        text: fields.address
        onTextEdited: fields.addressEdited(text)
        numeric: true
        Layout.fillWidth: true
    }
    SettingTextField {
        title: "Subnet Mask"
        text: fields.mask
        onTextEdited: fields.maskEdited(text)
        numeric: true
        Layout.fillWidth: true
    }
    SettingTextField {
        title: "Gateway"
        text: fields.gateway
        onTextEdited: fields.gatewayEdited(text)
        numeric: true
        Layout.fillWidth: true
    }
}
