import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// One field of an MQTT pane: its label in a column of its own, then the text field.
RowLayout {
    id: row
    property string label
    property string placeholder
    property string text
    property bool secure: false
    property bool numeric: false // a port or a number of seconds: the face with clear figures
    signal edited(string value)

    Layout.fillWidth: true
    spacing: 12
    onTextChanged: if (input.text !== text) input.text = text
    Component.onCompleted: input.text = text

    Text {
        text: row.label
        font: Theme.bodyFont
        color: Theme.ink
        // The longest labels ("Subscribe topic from", "Receipt reply topic") fit on one line.
        Layout.preferredWidth: 150
        wrapMode: Text.WordWrap
    }
    AppTextField {
        id: input
        Layout.fillWidth: true
        Layout.preferredHeight: 38
        placeholderText: row.secure ? "" : row.placeholder
        font: row.numeric ? Theme.numberFont : Theme.bodyFont
        echoMode: row.secure ? TextInput.Password : TextInput.Normal
        accessibleName: row.label
        onTextChanged: if (text !== row.text) row.edited(text)
    }
}
