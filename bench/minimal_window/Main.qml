import QtQuick
import QtQuick.Controls.Basic

ApplicationWindow {
    width: 1020
    height: 700
    visible: true
    title: "minimal_window"

    Text {
        anchors.centerIn: parent
        text: "Hello"
    }
}
