import QtQuick
import QtQuick.Controls.Basic

// A borderless accent button for toolbars and sheet headers, with an optional leading symbol.
Button {
    id: control

    property string symbol

    padding: 6
    leftPadding: 8
    rightPadding: 10
    font: Theme.buttonFont

    contentItem: Row {
        spacing: 4
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            visible: control.symbol !== ""
            symbol: control.symbol
            size: 18
            color: Theme.accent
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: control.text
            font: control.font
            color: Theme.accent
        }
    }

    background: Rectangle {
        radius: 8
        color: control.pressed || control.visualFocus ? Theme.accentTint : "transparent"
    }
    opacity: enabled ? 1 : 0.5

    Accessible.name: text
    Accessible.onPressAction: if (enabled) clicked()
}
