import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig
import PrinterConfig.Controls

// The printer's MQTT client, pane by pane: broker, topics, timing and TLS, each with its Apply.
SettingsForm {
    id: view
    objectName: "mqttSettingsView"
    property alias settings: screen.settings
    readonly property alias screen: screen
    readonly property var panes: ["broker", "topics", "timing", "tls"]

    MQTTSettingsModel {
        id: screen
    }

    SegmentedPicker {
        title: "Category"
        model: ["Broker", "Topics", "Timing", "TLS"]
        currentIndex: view.panes.indexOf(screen.pane)
        onActivated: (index) => screen.pane = view.panes[index]
        Layout.alignment: Qt.AlignHCenter
    }

    FormSection {
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Text {
                text: {
                    switch (screen.pane) {
                    case "topics": return "Topics & publish"
                    case "timing": return "Timing & network test"
                    case "tls": return "TLS / Certificate"
                    default: return "Broker connection"
                    }
                }
                font: Theme.rowTitleFont
                color: Theme.ink
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Text {
                text: {
                    switch (screen.pane) {
                    case "topics": return "Subscribe source, receipt, QoS, and heartbeat topic."
                    case "timing": return "Heartbeat, keep-alive, NTP clock, and DNS test page."
                    case "tls":
                        return ["Disable TLS authentication. Typical port 1883.",
                                "Import a .crt, then Apply. Uses port 8883.",
                                "Import three .crt files and password, then Apply. Uses port 8883."][screen.tlsMode]
                    default: return "Server address, login, and client identity."
                    }
                }
                font: Theme.captionFont
                color: Theme.inkSecondary
                wrapMode: Text.WordWrap
                Layout.fillWidth: true
                Accessible.name: text
            }
        }

        // --- broker -------------------------------------------------------------------------
        ColumnLayout {
            visible: screen.pane === "broker"
            Layout.fillWidth: true
            spacing: 8
            MqttFieldRow {
                label: "Server"; placeholder: "broker.example.com"
                text: view.settings ? view.settings.mqttServer : ""
                onEdited: (value) => view.settings.mqttServer = value
            }
            MqttFieldRow {
                label: "Port"; placeholder: "1883"; numeric: true
                text: view.settings ? view.settings.mqttPort : ""
                onEdited: (value) => view.settings.mqttPort = value
            }
            MqttFieldRow {
                label: "Username"; placeholder: "Optional"
                text: view.settings ? view.settings.mqttUsername : ""
                onEdited: (value) => view.settings.mqttUsername = value
            }
            MqttFieldRow {
                label: "Password"; secure: true
                text: view.settings ? view.settings.mqttPassword : ""
                onEdited: (value) => view.settings.mqttPassword = value
            }
            AppSwitch {
                text: "Use default Client ID (MAC)"
                checked: screen.useDefaultClientID
                onToggled: screen.useDefaultClientID = checked
                Layout.fillWidth: true
            }
            MqttFieldRow {
                visible: !screen.useDefaultClientID
                label: "Client ID"; placeholder: "Custom ID"
                text: view.settings ? view.settings.mqttClientId : ""
                onEdited: (value) => view.settings.mqttClientId = value
            }
            ApplyButton { text: "Apply Broker Settings"; onClicked: screen.applyBroker() }
        }

        // --- topics -------------------------------------------------------------------------
        ColumnLayout {
            visible: screen.pane === "topics"
            Layout.fillWidth: true
            spacing: 8
            PickerRow {
                label: "Subscribe topic from"
                options: ["CPU UUID", "MAC", "IMEI"]
                currentIndex: screen.selectedSubTopicType
                onActivated: (index) => screen.selectedSubTopicType = index
            }
            PickerRow {
                label: "Receipt info"
                options: ["Don't publish", "Publish"]
                currentIndex: screen.publishReceiptInfo ? 1 : 0
                onActivated: (index) => screen.publishReceiptInfo = (index === 1)
            }
            PickerRow {
                label: "Publish QoS"
                options: ["QoS 1", "QoS 2"]
                currentIndex: screen.pubQos - 1
                onActivated: (index) => screen.pubQos = index + 1
            }
            MqttFieldRow {
                label: "Heartbeat topic"; placeholder: "HearBeat"
                text: screen.heartbeatPubTopic
                onEdited: (value) => screen.heartbeatPubTopic = value
            }
            MqttFieldRow {
                label: "Receipt reply topic"; placeholder: "PrintSuccess"
                text: screen.receiptReplyTopic
                onEdited: (value) => screen.receiptReplyTopic = value
            }
            ApplyButton { text: "Apply Topic Settings"; onClicked: screen.applyTopics() }
        }

        // --- timing -------------------------------------------------------------------------
        ColumnLayout {
            visible: screen.pane === "timing"
            Layout.fillWidth: true
            spacing: 8
            MqttFieldRow {
                label: "Heartbeat (sec)"; placeholder: "0 = off"; numeric: true
                text: screen.heartbeatInterval
                onEdited: (value) => screen.heartbeatInterval = value
            }
            MqttFieldRow {
                label: "KeepAlive (sec)"; placeholder: "30"; numeric: true
                text: screen.keepAliveInterval
                onEdited: (value) => screen.keepAliveInterval = value
            }
            MqttFieldRow {
                label: "NTP server"; placeholder: "pool.ntp.org"
                text: screen.ntpServer
                onEdited: (value) => screen.ntpServer = value
            }
            MqttFieldRow {
                label: "Timezone"; placeholder: "8 = UTC+8"; numeric: true
                text: screen.dateZone
                onEdited: (value) => screen.dateZone = value
            }
            MqttFieldRow {
                label: "Test URL"; placeholder: "www.example.com"
                text: screen.testWebUrl
                onEdited: (value) => screen.testWebUrl = value
            }
            ApplyButton { text: "Apply Timing Settings"; onClicked: screen.applyTiming() }
        }

        // --- TLS ----------------------------------------------------------------------------
        ColumnLayout {
            visible: screen.pane === "tls"
            Layout.fillWidth: true
            spacing: 8
            PickerRow {
                label: "Mode"
                options: ["No TLS", "One-way", "Mutual"]
                currentIndex: screen.tlsMode
                onActivated: (index) => screen.tlsMode = index
            }
            ColumnLayout {
                visible: screen.tlsMode === 1
                Layout.fillWidth: true
                spacing: 6
                FieldLabel { text: "Certificate (.crt)" }
                ScrollView {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 140
                    TextArea {
                        text: screen.certificatePEM
                        font.family: "monospace"
                        font.pixelSize: 11
                        wrapMode: TextEdit.WrapAnywhere
                        Accessible.name: "Certificate (.crt)"
                        onTextChanged: if (text !== screen.certificatePEM) screen.certificatePEM = text
                        background: Rectangle {
                            radius: 8
                            color: Qt.rgba(1, 1, 1, 0.7)
                            border.color: Theme.hairline
                        }
                    }
                }
                PrimaryButton {
                    text: "Import .crt File…"
                    filled: false
                    Layout.fillWidth: false
                    onClicked: { screen.mutualImportSlot = 0; importer.open() }
                }
            }
            ColumnLayout {
                visible: screen.tlsMode === 2
                Layout.fillWidth: true
                spacing: 8
                Repeater {
                    model: ["File 1 · CA", "File 2 · Client", "File 3 · Key / cert"]
                    delegate: RowLayout {
                        required property string modelData
                        required property int index
                        Layout.fillWidth: true
                        spacing: 12
                        Text {
                            text: modelData
                            font: Theme.bodyFont
                            color: Theme.ink
                            Layout.preferredWidth: 150 // the column of the other rows' labels
                        }
                        Text {
                            // Re-read whenever a field changes, the imported files included.
                            text: { screen.tlsApplyEnabled; screen.certificatePEM; return screen.mutualFileLabel(index + 1) }
                            textFormat: Text.PlainText // a file name is data
                            font: Theme.captionFont
                            color: Theme.inkSecondary
                            elide: Text.ElideMiddle
                            Layout.fillWidth: true
                            Accessible.name: text
                        }
                        PrimaryButton {
                            text: "Import"
                            filled: false
                            Layout.fillWidth: false
                            Accessible.name: "Import " + modelData
                            onClicked: { screen.mutualImportSlot = index + 1; importer.open() }
                        }
                    }
                }
                MqttFieldRow {
                    label: "Password"; secure: true
                    text: screen.mutualPassword
                    onEdited: (value) => screen.mutualPassword = value
                }
            }
            ApplyButton {
                text: "Apply TLS Settings"
                enabled: screen.tlsApplyEnabled
                opacity: enabled ? 1 : 0.45
                onClicked: screen.applyTls()
            }
        }
    }

    // The chooser's result: a file URL into the slot chosen before it opened.
    function importAccepted(url) {
        screen.importFile(decodeURIComponent(url.toString().replace(/^file:\/\//, "")))
    }

    // Made when first needed: most visits to the screen never open it.
    Loader {
        id: importerLoader
        active: false
        sourceComponent: CertificateFileDialog {
            homeFolder: screen.homeFolder
            onAccepted: (file) => view.importAccepted(file)
            onRejected: screen.importFailed("no file was chosen")
        }
    }
    readonly property QtObject importer: QtObject {
        function open() {
            importerLoader.active = true
            importerLoader.item.open()
        }
    }
}
