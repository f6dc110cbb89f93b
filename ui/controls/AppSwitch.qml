import QtQuick
import QtQuick.Controls.Basic

// An on/off setting with its label in front. Left alone, assistive technology flips checked
// without the toggled and clicked a pointer produces; here its Press and Toggle do exactly what a
// click does, so owners may react to toggled or to checkedChanged alike.
Switch {
    id: control

    font: Theme.bodyFont
    spacing: 12
    // No side padding: the label lines up with the other rows' labels and the switch's right
    // edge with the other controls' edges.
    topPadding: 4
    bottomPadding: 4
    leftPadding: 0
    rightPadding: 0

    indicator: Rectangle {
        implicitWidth: 40
        implicitHeight: 24
        x: control.width - width - control.rightPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: height / 2
        color: control.checked ? Theme.accent : Qt.rgba(0, 0, 0, 0.12)
        border.width: control.visualFocus ? 2 : 0
        border.color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.45)
        Behavior on color { ColorAnimation { duration: 150 } }

        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: parent.height - 4
            height: width
            radius: width / 2
            color: "white"
            border.width: 1
            border.color: Theme.hairline
            Behavior on x { NumberAnimation { duration: 150; easing.type: Easing.OutCubic } }
        }
    }

    contentItem: Text {
        rightPadding: control.indicator.width + control.spacing
        text: control.text
        font: control.font
        color: Theme.ink
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    opacity: enabled ? 1 : 0.5

    function activate() {
        if (!enabled)
            return;
        toggle();
        toggled();
        clicked();
    }

    Accessible.name: text
    Accessible.onPressAction: activate()
    Accessible.onToggleAction: activate()
}
