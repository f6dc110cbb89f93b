import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// The Network transport: address, port and the connect button.
PanelSection {
    id: section
    readonly property bool connected: model.networkManager.isConnected

    ColumnLayout {
        width: parent.width
        spacing: 12

        LabeledField {
            Layout.fillWidth: true
            title: "IP Address"
            numeric: true
            placeholder: "192.168.1.87"
            text: section.model.ipAddress
            onEdited: (value) => section.model.ipAddress = value
        }
        LabeledField {
            Layout.fillWidth: true
            title: "Port"
            numeric: true
            placeholder: "9100"
            text: section.model.port
            onEdited: (value) => section.model.port = value
        }
        PrimaryButton {
            Layout.fillWidth: true
            text: section.connected ? "Disconnect" : "Connect Network"
            filled: !section.connected
            destructive: section.connected
            onClicked: section.model.toggleNetworkConnection()
        }
    }
}
