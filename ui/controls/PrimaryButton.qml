import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The button look of primary actions: filled accent (or danger) with a white label, or a
// translucent white body with a coloured outline and label.
Button {
    id: control

    property bool filled: true
    property bool destructive: false

    readonly property color tone: destructive ? Theme.danger : Theme.accent
    readonly property color labelColor: filled ? "white" : tone

    // The label spans whatever width the button gets; in a layout it takes the full row.
    Layout.fillWidth: true
    topPadding: 12
    bottomPadding: 12
    leftPadding: 16
    rightPadding: 16
    font: Theme.buttonFont

    // Eased press feedback; the disabled dimming is ours, the design leaves it open.
    scale: pressed ? 0.98 : 1
    opacity: !enabled ? 0.5 : pressed ? 0.9 : 1
    Behavior on scale { NumberAnimation { duration: 150; easing.type: Easing.Bezier; easing.bezierCurve: [0, 0, 0.58, 1, 1, 1] } }
    Behavior on opacity { NumberAnimation { duration: 150; easing.type: Easing.Bezier; easing.bezierCurve: [0, 0, 0.58, 1, 1, 1] } }

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.labelColor
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        radius: 10
        color: control.filled ? control.tone : Qt.rgba(1, 1, 1, 0.35)
        border.width: control.filled ? 0 : 1.2
        border.color: Qt.rgba(control.tone.r, control.tone.g, control.tone.b,
                              control.destructive ? 0.5 : 0.45)
        // Keyboard focus needs a visible mark; the press feedback alone does not show it.
        FocusRing { shown: control.visualFocus }
    }

    Accessible.name: text
    Accessible.onPressAction: if (enabled) clicked()
}
