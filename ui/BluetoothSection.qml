import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// The Bluetooth transport: the printers the scan found, or the connected one.
PanelSection {
    id: section
    readonly property bool connected: model.bluetoothManager.hasConnectedDevice

    ColumnLayout {
        width: parent.width
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            FieldLabel {
                text: "Nearby devices"
                Layout.fillWidth: true
            }
            ToolButtonLink {
                text: "Scan"
                symbol: "arrow.clockwise"
                onClicked: section.model.startBluetoothScan()
            }
        }

        Rectangle {
            visible: section.connected
            Layout.fillWidth: true
            implicitHeight: connectedRow.implicitHeight + 24
            radius: 12
            color: Qt.rgba(1, 1, 1, 0.6)
            border.color: Theme.hairline
            RowLayout {
                id: connectedRow
                anchors.fill: parent
                anchors.margins: 12
                ColumnLayout {
                    Layout.fillWidth: true
                    // A long name is cut short, never the way to disconnect.
                    Layout.minimumWidth: 0
                    spacing: 2
                    Text {
                        text: section.model.connectedDeviceName
                        textFormat: Text.PlainText
                        font: Theme.bodyFont
                        color: Theme.ink
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                        Accessible.name: text
                    }
                    Text {
                        text: "Connected"
                        font: Theme.captionFont
                        color: Theme.success
                        Accessible.name: text
                    }
                }
                PrimaryButton {
                    text: "Disconnect"
                    filled: false
                    destructive: true
                    Layout.fillWidth: false
                    Layout.minimumWidth: implicitWidth
                    onClicked: section.model.disconnectBluetooth()
                }
            }
        }

        Text {
            visible: !section.connected && section.model.bluetoothDevices.count === 0
            text: "Turn on the printer’s Bluetooth and wait…"
            font: Theme.bodyFont
            color: Theme.inkSecondary
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Accessible.name: text
        }

        ListView {
            id: list
            visible: !section.connected && count > 0
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, 220)
            clip: true
            spacing: 6
            model: section.model.bluetoothDevices
            Accessible.role: Accessible.List
            Accessible.name: "Nearby devices"
            delegate: DeviceRow {
                required property string identifier
                required name
                required identifierLine
                required rssi
                onClicked: section.model.connectBluetoothDevice(identifier)
            }
            ScrollBar.vertical: ScrollBar {}
        }
    }
}
