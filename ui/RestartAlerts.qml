import QtQuick
import PrinterConfig.Controls

// A screen's two alerts: the restart notice after a command went out, and the reason a command
// was refused before anything was sent.
Item {
    property var screen
    property string restartMessage

    AppDialog {
        readonly property bool raised: screen ? screen.showRestartAlert : false
        title: "Settings Successful"
        message: restartMessage
        onRaisedChanged: raised ? open() : close()
        onClosed: if (screen) screen.showRestartAlert = false
    }
    AppDialog {
        readonly property bool raised: screen ? screen.showRefusal : false
        title: "Not Sent"
        message: screen ? screen.refusal : ""
        onRaisedChanged: raised ? open() : close()
        onClosed: if (screen) screen.showRefusal = false
    }
}
