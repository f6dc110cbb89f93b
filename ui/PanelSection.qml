import QtQuick

// A transport's part of the panel. It fades and slides in when its transport is chosen.
Item {
    property var model
    property bool shown: false

    implicitHeight: childrenRect.height
    visible: opacity > 0
    opacity: shown ? 1 : 0
    enabled: shown
    transform: Translate { x: shown ? 0 : 12; Behavior on x { NumberAnimation { duration: 220; easing.type: Easing.InOutQuad } } }
    Behavior on opacity { NumberAnimation { duration: 220; easing.type: Easing.InOutQuad } }
}
