import QtQuick
import PrinterConfig.Controls

// The window's alerts, the transports' and the screens', one at a time in the order raised: up
// while one waits, and up again for the next once one is dismissed.
AppDialog {
    objectName: "alert"
    property var alerts
    z: 100 // over the settings sheet
    title: alerts.title
    message: alerts.message
    Component.onCompleted: if (alerts.showing) open()
    Connections {
        target: alerts
        function onCurrentChanged() {
            if (alerts.showing && !visible)
                open()
        }
    }
    onClosed: alerts.dismiss()
}
