import QtQuick
import QtQuick.Controls.Basic
import PrinterConfig
import PrinterConfig.Controls

// The application's one window. No menu offers a second one.
ApplicationWindow {
    id: window
    width: 1020
    height: 700
    minimumWidth: 900
    minimumHeight: 620
    visible: true
    title: "printer-config"
    background: PaperBackground {}
    // Ask for the keyboard once shown: a window manager gives it to a new window anyway, and
    // without one (a kiosk, a bare X server) Tab would otherwise reach nothing.
    Component.onCompleted: requestActivate()

    // The content is built while the window already shows its paper, and fades in once built
    // (as it would anyway): the window comes up at once however much there is to build.
    Loader {
        anchors.fill: parent
        asynchronous: true
        source: "ContentView.qml"
    }
}
