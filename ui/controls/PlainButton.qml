import QtQuick
import QtQuick.Controls.Basic

// A button without chrome whose label is any item (a SettingRowView, a list row): set
// contentItem, and text for the accessible name.
Button {
    id: control

    padding: 0
    opacity: pressed ? 0.6 : 1
    Behavior on opacity { NumberAnimation { duration: 150 } }

    background: Rectangle {
        radius: 10
        color: control.visualFocus ? Theme.accentTint : "transparent"
    }

    Accessible.name: text
    Accessible.onPressAction: if (enabled) clicked()
}
