import QtQuick
import QtQuick.Controls.Basic

// A plain text input on a translucent card. Name it for screen readers with accessibleName (the
// placeholder is not announced): Qt 6.4 withholds Accessible.name from a password field, and the
// window's accessibility layer falls back to this property.
TextField {
    id: control
    property string accessibleName
    Accessible.name: accessibleName

    font: Theme.bodyFont
    color: Theme.ink
    placeholderTextColor: Qt.rgba(Theme.inkSecondary.r, Theme.inkSecondary.g, Theme.inkSecondary.b, 0.7)
    selectionColor: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.3)
    selectedTextColor: Theme.ink
    padding: 10
    leftPadding: 10
    rightPadding: 10

    background: Rectangle {
        implicitWidth: 200
        radius: 8
        color: Qt.rgba(1, 1, 1, 0.7)
        border.width: 1
        // The hairline is too faint to show where typing goes; focus takes the accent.
        border.color: control.activeFocus ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.6)
                                          : Theme.hairline
    }
}
