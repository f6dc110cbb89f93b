import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// The USB transport: the attached printers, and the connect button.
PanelSection {
    id: section
    readonly property bool connected: model.usbSerialManager.isConnected

    ColumnLayout {
        width: parent.width
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            FieldLabel {
                text: "USB printer"
                Layout.fillWidth: true
            }
            ToolButtonLink {
                text: "Refresh"
                symbol: "arrow.clockwise"
                onClicked: section.model.refreshUsbPorts()
            }
        }

        Text {
            visible: section.model.usbPorts.count === 0
            text: "No USB printer found. Use a data USB cable (not charge-only), then Refresh."
            font: Theme.bodyFont
            color: Theme.inkSecondary
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Accessible.name: text
        }

        AppComboBox {
            visible: section.model.usbPorts.count > 0
            Layout.fillWidth: true
            model: section.model.usbPorts
            textRole: "name"
            valueRole: "id"
            currentIndex: section.model.selectedUsbPortIndex
            title: "USB printer"
            onActivated: section.model.selectUsbPort(currentValue)
        }

        PrimaryButton {
            Layout.fillWidth: true
            text: section.connected ? "Disconnect" : "Connect USB"
            filled: !section.connected
            destructive: section.connected
            enabled: section.model.usbConnectEnabled
            onClicked: section.model.toggleUSBConnection()
        }
    }
}
