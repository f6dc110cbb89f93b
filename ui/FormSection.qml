import QtQuick
import QtQuick.Layouts
import PrinterConfig.Controls

// A group of a settings form: an optional header, the rows on a card, an optional footer.
ColumnLayout {
    id: section
    property string header
    property string footer
    default property alias rows: card.data

    Layout.fillWidth: true
    spacing: 6

    FieldLabel {
        visible: section.header !== ""
        text: section.header
        Layout.leftMargin: 6
    }
    Rectangle {
        Layout.fillWidth: true
        implicitHeight: card.implicitHeight + 28
        radius: 14
        color: Qt.rgba(1, 1, 1, 0.6)
        border.color: Theme.hairline
        ColumnLayout {
            id: card
            anchors.fill: parent
            anchors.margins: 14
            spacing: 10
        }
    }
    Text {
        visible: section.footer !== ""
        text: section.footer
        font: Theme.captionFont
        color: Theme.inkSecondary
        wrapMode: Text.WordWrap
        Layout.fillWidth: true
        Layout.leftMargin: 6
        Accessible.name: text
    }
}
