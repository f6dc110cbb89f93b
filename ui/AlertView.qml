import QtQuick
import PrinterConfig.Controls

// The window's alerts, the transports' and the screens', one at a time in the order raised.
AppDialog {
    objectName: "alert"
    property var alerts
    readonly property bool raised: alerts.showing
    z: 100 // over the settings sheet
    title: alerts.title
    message: alerts.message
    onRaisedChanged: if (raised) open()
    Component.onCompleted: if (raised) open()
    // The next alert, if any, comes up once this one has gone.
    onClosed: alerts.dismiss()
}
