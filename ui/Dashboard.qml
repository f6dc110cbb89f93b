import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// The right area while the chosen transport is connected: the printer, the communication test
// and the ways into the settings.
Item {
    id: dashboard
    property var model

    // Fades in while the transport is connected, from the state it was made in.
    opacity: 0
    scale: 0.98
    visible: opacity > 0
    states: State {
        when: dashboard.model && dashboard.model.isCurrentConnected
        PropertyChanges { dashboard.opacity: 1; dashboard.scale: 1 }
    }
    transitions: Transition {
        NumberAnimation { properties: "opacity,scale"; duration: 280; easing.type: Easing.InOutQuad }
    }

    ColumnLayout {
        // Centred in a wide window, at most as wide as its widest row needs.
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.verticalCenter: parent.verticalCenter
        width: Math.min(parent.width - 112, 420)
        spacing: 16

        ColumnLayout {
            spacing: 4
            Text {
                text: "Connected"
                font: Theme.captionFont
                color: Theme.success
                Accessible.name: text
            }
            Text {
                objectName: "connectedName"
                text: dashboard.model.connectedName
                textFormat: Text.PlainText
                font: Theme.displayFont
                color: Theme.ink
                elide: Text.ElideRight
                Layout.fillWidth: true
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Text {
                objectName: "connectionKind"
                text: dashboard.model.connectionKind
                textFormat: Text.PlainText
                font: Theme.bodyFont
                color: Theme.inkSecondary
                Accessible.name: text
            }
        }

        RowLayout {
            spacing: 12
            Layout.maximumWidth: 420
            PrimaryButton {
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                text: "Communication Test"
                filled: false
                onClicked: dashboard.model.sendTestData()
            }
            PrimaryButton {
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                text: "Parameter Settings"
                filled: true
                onClicked: dashboard.model.openSettings("hub")
            }
        }
        // The communication test's word back: the printer got the bytes, or why not. It clears
        // itself; a screen reader announces it as it appears.
        Text {
            objectName: "testNotice"
            text: dashboard.model.testNotice
            textFormat: Text.PlainText
            visible: text !== ""
            font: Theme.captionFont
            color: text.startsWith("Communication test sent") ? Theme.success : Theme.danger
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
        }

        GridLayout {
            columns: 2
            columnSpacing: 12
            rowSpacing: 12
            Layout.maximumWidth: 420
            Layout.fillWidth: true
            Repeater {
                model: [
                    { symbol: "slider.horizontal.3", title: "Basic", subtitle: "Baud, cutter, density", section: "basic" },
                    { symbol: "network", title: "Network", subtitle: "Name & IP", section: "network" },
                    { symbol: "wifi", title: "Wi\u2011Fi", subtitle: "SSID & password", section: "wifi" },
                    { symbol: "antenna.radiowaves.left.and.right", title: "MQTT", subtitle: "Server & TLS", section: "mqtt" }
                ]
                delegate: AbstractButton {
                    id: card
                    required property var modelData
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1 // two equal columns
                    implicitHeight: 84
                    hoverEnabled: true
                    text: modelData.title
                    Accessible.role: Accessible.Button
                    Accessible.name: modelData.title
                    Accessible.description: modelData.subtitle
                    Accessible.onPressAction: clicked()
                    onClicked: dashboard.model.openSettings(modelData.section)
                    scale: down ? 0.98 : 1
                    Behavior on scale { NumberAnimation { duration: 150; easing.type: Easing.OutQuad } }
                    background: Rectangle {
                        radius: 14
                        color: card.hovered ? Qt.rgba(1, 1, 1, 0.8) : Qt.rgba(1, 1, 1, 0.6)
                        border.color: Theme.hairline
                        FocusRing { shown: card.visualFocus; outerRadius: 14 }
                    }
                    contentItem: ColumnLayout {
                        spacing: 2
                        Icon {
                            symbol: card.modelData.symbol
                            size: 18
                            color: Theme.accent
                        }
                        Text {
                            text: card.modelData.title
                            font: Theme.buttonFont
                            color: Theme.ink
                        }
                        Text {
                            text: card.modelData.subtitle
                            font: Theme.captionFont
                            color: Theme.inkSecondary
                        }
                    }
                    padding: 14
                }
            }
        }
    }
}
