import QtQuick
import QtQuick.Layouts
import PrinterConfig.Controls

// The right area while nothing is connected.
Item {
    ColumnLayout {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.margins: 56
        spacing: 14

        Text {
            text: "Ready when you are"
            font: Theme.displayFont
            color: Theme.ink
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Text {
            text: "Connect on the left. Then set Basic, Network, Wi\u2011Fi, or MQTT from here."
            font: Theme.bodyFont
            color: Theme.inkSecondary
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Layout.maximumWidth: 460
            Accessible.name: text
        }
        Item { Layout.preferredHeight: 8 }
        Repeater {
            model: [
                { symbol: "cable.connector", text: "USB for setup at the desk" },
                { symbol: "wifi", text: "Network once on LAN" },
                { symbol: "wave.3.right", text: "Bluetooth nearby" }
            ]
            delegate: RowLayout {
                required property var modelData
                spacing: 12
                Rectangle {
                    width: 32
                    height: 32
                    radius: 8
                    color: Theme.accentTint
                    Icon {
                        anchors.centerIn: parent
                        symbol: modelData.symbol
                        size: 16
                        color: Theme.accent
                    }
                }
                Text {
                    text: modelData.text
                    font: Theme.bodyFont
                    color: Theme.ink
                    Accessible.name: text
                }
            }
        }
    }
}
