import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// One Bluetooth printer of the scan: name, identifier line and signal strength. Pressing it
// connects.
ItemDelegate {
    id: row
    property string name
    property string identifierLine
    property int rssi: 0

    width: ListView.view ? ListView.view.width : implicitWidth
    padding: 8
    Accessible.name: name
    Accessible.description: identifierLine
    Accessible.onPressAction: if (enabled) clicked()

    background: Rectangle {
        radius: 10
        color: row.down ? Theme.accentTint : (row.hovered ? Qt.rgba(1, 1, 1, 0.75) : Qt.rgba(1, 1, 1, 0.5))
        border.color: Theme.hairline
        border.width: 1
        FocusRing { shown: row.visualFocus }
    }

    contentItem: RowLayout {
        spacing: 10
        Item {
            Layout.preferredWidth: 28
            Layout.preferredHeight: 28
            Icon {
                anchors.centerIn: parent
                symbol: "antenna.radiowaves.left.and.right"
                size: 18
                color: Theme.accent
            }
        }
        ColumnLayout {
            spacing: 1
            Layout.fillWidth: true
            Text {
                text: row.name
                textFormat: Text.PlainText
                font: Theme.bodyFont
                color: Theme.ink
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Text {
                text: row.identifierLine
                textFormat: Text.PlainText
                font.family: Theme.numberFont.family
                font.pixelSize: Theme.captionFont.pixelSize
                color: Theme.inkSecondary
            }
        }
        Text {
            text: row.rssi + " dBm"
            font.family: Theme.numberFont.family
            font.pixelSize: Theme.captionFont.pixelSize
            color: Theme.inkSecondary
        }
    }
}
