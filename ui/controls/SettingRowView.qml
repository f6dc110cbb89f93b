import QtQuick
import QtQuick.Layouts

// A category row of the settings hub: icon tile, title over subtitle, trailing chevron. It is
// the label of a button, which carries the accessible name; the row adds nothing to the tree.
RowLayout {
    id: row

    property string icon
    property string title
    property string subtitle

    spacing: 12

    Rectangle {
        implicitWidth: 40
        implicitHeight: 40
        radius: 10
        color: Theme.accentTint

        Icon {
            anchors.centerIn: parent
            symbol: row.icon
            size: 16
            weight: Font.DemiBold
            color: Theme.accent
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2

        Text {
            Layout.fillWidth: true
            text: row.title
            font: Theme.rowTitleFont
            color: Theme.ink
            elide: Text.ElideRight
        }
        Text {
            Layout.fillWidth: true
            text: row.subtitle
            font: Theme.captionFont
            color: Theme.inkSecondary
            elide: Text.ElideRight
        }
    }

    Icon {
        symbol: "chevron.right"
        size: 12
        color: Theme.inkSecondary
        opacity: 0.6
    }
}
