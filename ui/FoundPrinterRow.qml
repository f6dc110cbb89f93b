import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// One printer a network search found: its name (or address) and ADDRESS:PORT with where it was
// seen. Pressing it puts the address and port into the fields.
ItemDelegate {
    id: row
    property string title
    property string detail

    width: ListView.view ? ListView.view.width : implicitWidth
    padding: 8
    Accessible.name: title
    Accessible.description: detail
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
                symbol: "printer"
                size: 18
                color: Theme.accent
            }
        }
        ColumnLayout {
            spacing: 1
            Layout.fillWidth: true
            Text {
                text: row.title
                textFormat: Text.PlainText
                font: Theme.bodyFont
                color: Theme.ink
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Text {
                text: row.detail
                textFormat: Text.PlainText
                font.family: Theme.numberFont.family
                font.pixelSize: Theme.captionFont.pixelSize
                color: Theme.inkSecondary
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }
    }
}
