import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig
import PrinterConfig.Controls

// The main window's content: the connection panel on the left, the introduction or the
// dashboard on the right, one alert per transport and the settings sheet.
Item {
    id: root
    objectName: "contentView"
    property alias model: content

    ContentViewModel {
        id: content
    }

    // The content appears once the window is on screen: its first frame is drawn before the USB
    // listing starts, and the panel then fades in.
    property bool appeared: false
    Connections {
        target: root.Window.window
        enabled: !root.appeared
        function onFrameSwapped() {
            root.appeared = true
            content.appear()
        }
    }

    readonly property var transports: [
        { raw: "network", label: "Network", symbol: "network" },
        { raw: "bluetooth", label: "Bluetooth", symbol: "wave.3.right" },
        { raw: "usb", label: "USB", symbol: "cable.connector" }
    ]

    RowLayout {
        anchors.fill: parent
        spacing: 0
        // Behind the open sheet nothing takes a key or a click: the transport stays as it is.
        enabled: content.settingsSection === ""

        // --- connection panel -------------------------------------------------------------
        Rectangle {
            Layout.preferredWidth: 380
            Layout.fillHeight: true
            color: Qt.rgba(1, 1, 1, 0.55)

            ColumnLayout {
                id: panel
                anchors.fill: parent
                anchors.margins: 28
                spacing: 18
                opacity: content.appearReady ? 1 : 0
                transform: Translate { y: content.appearReady ? 0 : 8 }
                Behavior on opacity { NumberAnimation { duration: 450; easing.type: Easing.OutCubic } }

                ColumnLayout {
                    spacing: 4
                    Text {
                        text: "Connect"
                        font: Theme.titleFont
                        color: Theme.ink
                        Accessible.role: Accessible.Heading
                        Accessible.name: text
                    }
                    Text {
                        text: "Choose one way, then connect the printer."
                        font: Theme.bodyFont
                        color: Theme.inkSecondary
                        wrapMode: Text.WordWrap
                        Layout.fillWidth: true
                        Accessible.name: text
                    }
                }

                RowLayout {
                    spacing: 8
                    Layout.fillWidth: true
                    Repeater {
                        model: root.transports
                        delegate: TransportButton {
                            required property var modelData
                            Layout.fillWidth: true
                            Layout.preferredWidth: 1 // equal shares
                            text: modelData.label
                            symbol: modelData.symbol
                            selected: content.connectionType === modelData.raw
                            onActivated: content.selectConnectionType(modelData.raw)
                        }
                    }
                }

                Item {
                    id: sectionArea
                    Layout.fillWidth: true
                    Layout.preferredHeight: Math.max(networkSection.implicitHeight,
                                                     bluetoothSection.implicitHeight,
                                                     usbSection.implicitHeight)

                    // Each transport's part is made when its transport is first chosen.
                    LazyLoader {
                        id: networkSection
                        width: parent.width
                        wanted: content.connectionType === "network"
                        file: "NetworkSection.qml"
                        initial: ({ model: content, shown: wanted })
                        onLoaded: item.shown = Qt.binding(() => wanted)
                    }
                    LazyLoader {
                        id: bluetoothSection
                        width: parent.width
                        wanted: content.connectionType === "bluetooth"
                        file: "BluetoothSection.qml"
                        initial: ({ model: content, shown: wanted })
                        onLoaded: item.shown = Qt.binding(() => wanted)
                    }
                    LazyLoader {
                        id: usbSection
                        width: parent.width
                        wanted: content.connectionType === "usb"
                        file: "UsbSection.qml"
                        initial: ({ model: content, shown: wanted })
                        onLoaded: item.shown = Qt.binding(() => wanted)
                    }
                }

                Item { Layout.fillHeight: true }

                RowLayout {
                    spacing: 8
                    Layout.fillWidth: true
                    Rectangle {
                        id: dot
                        width: 8
                        height: 8
                        radius: 4
                        color: content.isCurrentConnected ? Theme.success
                                                          : Qt.rgba(Theme.inkSecondary.r, Theme.inkSecondary.g,
                                                                    Theme.inkSecondary.b, 0.35)
                        SequentialAnimation on scale {
                            running: content.isCurrentConnected
                            loops: Animation.Infinite
                            onRunningChanged: if (!running) dot.scale = 1
                            NumberAnimation { from: 1; to: 1.15; duration: 900; easing.type: Easing.InOutQuad }
                            NumberAnimation { from: 1.15; to: 1; duration: 900; easing.type: Easing.InOutQuad }
                        }
                    }
                    Text {
                        objectName: "statusText"
                        text: content.statusText
                        textFormat: Text.PlainText
                        font: Theme.captionFont
                        color: Theme.inkSecondary
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                }
            }
        }

        Rectangle {
            Layout.preferredWidth: 1
            Layout.fillHeight: true
            color: Theme.hairline
        }

        // --- right area ---------------------------------------------------------------------
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            Introduction {
                anchors.fill: parent
                opacity: content.isCurrentConnected ? 0 : 1
                visible: opacity > 0
                Behavior on opacity { NumberAnimation { duration: 280; easing.type: Easing.InOutQuad } }
            }
            // Made at the first connection; it fades in from the state it was made in.
            LazyLoader {
                anchors.fill: parent
                wanted: content.isCurrentConnected
                file: "Dashboard.qml"
                initial: ({ model: content })
            }
        }
    }

    // --- alerts: the transports' and the screens', one at a time in the order raised --------
    // Made when the first alert is raised.
    LazyLoader {
        wanted: content.alerts.showing
        file: "AlertView.qml"
        initial: ({ alerts: content.alerts })
    }

    // --- settings sheet -------------------------------------------------------------------
    // Made each time it opens; it fixes the transport it sends over when it opens.
    Loader {
        id: sheet
        anchors.fill: parent
        readonly property bool open: content.settingsSection !== ""
        onOpenChanged: {
            if (open)
                setSource("PrinterSettingsView.qml", { content: root.model, connectionType: content.connectionType,
                                                       initialSection: content.settingsSection })
            else
                setSource("")
        }
        Connections {
            target: sheet.item
            function onDismissed() { content.closeSettings() }
        }
    }
}
