import QtQuick

// The mark of the keyboard focus around a control: drawn just outside the control's own shape.
// Put it in the control's background and bind `shown` to the control's visualFocus.
Rectangle {
    property bool shown: false
    property real outerRadius: 10

    anchors.fill: parent
    anchors.margins: -3
    radius: outerRadius + 3
    color: "transparent"
    border.width: 2
    border.color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.6)
    visible: shown
}
