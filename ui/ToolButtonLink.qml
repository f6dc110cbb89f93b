import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// A small text button with an icon, for secondary actions such as Scan and Refresh.
AbstractButton {
    id: button
    property string symbol
    hoverEnabled: true
    padding: 6
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: if (enabled) clicked()
    opacity: down ? 0.6 : 1
    contentItem: RowLayout {
        spacing: 4
        Icon {
            symbol: button.symbol
            size: 14
            color: Theme.accent
        }
        Text {
            text: button.text
            font: Theme.captionFont
            color: Theme.accent
        }
    }
    background: Rectangle {
        radius: 6
        color: button.hovered ? Theme.accentTint : "transparent"
        FocusRing { shown: button.visualFocus; outerRadius: 6 }
    }
}
