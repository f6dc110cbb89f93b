import QtQuick
import PrinterConfig.Controls

// A transport's alert: shown while its manager raises one; dismissing it lowers the flag.
AppDialog {
    id: alert
    property QtObject manager
    readonly property bool raised: manager ? manager.showAlert : false

    objectName: "alert" + title
    message: manager ? manager.alertMessage : ""
    onRaisedChanged: raised ? open() : close()
    Component.onCompleted: if (raised) open()
    onClosed: if (manager) manager.showAlert = false
}
