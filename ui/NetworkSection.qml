import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// The Network transport: address, port, the printers a search of the network finds (choosing
// one fills the address and port) and the connect button.
PanelSection {
    id: section
    readonly property bool connected: model.networkManager.isConnected
    readonly property var finder: model.printerFinder

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
        RowLayout {
            Layout.fillWidth: true
            FieldLabel {
                text: "Printers on this network"
                Layout.fillWidth: true
            }
            ToolButtonLink {
                text: section.finder.searching ? "Cancel" : "Find Printers"
                symbol: section.finder.searching ? "xmark" : "magnifyingglass"
                onClicked: section.finder.searching ? section.finder.cancel() : section.finder.start()
            }
        }
        Text {
            visible: text !== ""
            text: section.finder.searching ? section.finder.progressText : section.finder.notice
            textFormat: Text.PlainText
            font: Theme.captionFont
            color: Theme.inkSecondary
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Text {
            visible: section.finder.searching && section.finder.notice !== ""
            text: section.finder.notice
            textFormat: Text.PlainText
            font: Theme.captionFont
            color: Theme.inkSecondary
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Accessible.name: text
        }
        ListView {
            visible: count > 0
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, 160)
            clip: true
            spacing: 6
            model: section.finder
            Accessible.role: Accessible.List
            Accessible.name: "Printers on this network"
            delegate: FoundPrinterRow {
                required property int index
                required title
                required detail
                onClicked: section.model.chooseFoundPrinter(index)
            }
            ScrollBar.vertical: ScrollBar {}
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
