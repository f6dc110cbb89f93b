import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// One field of an MQTT pane: its label in a 120-wide column, then the text field.
RowLayout {
    id: row
    property string label
    property string placeholder
    property string text
    property bool secure: false
    signal edited(string value)

    Layout.fillWidth: true
    spacing: 12
    onTextChanged: if (input.text !== text) input.text = text
    Component.onCompleted: input.text = text

    Text {
        text: row.label
        font: Theme.bodyFont
        color: Theme.ink
        Layout.preferredWidth: 120
        wrapMode: Text.WordWrap
    }
    AppTextField {
        id: input
        Layout.fillWidth: true
        placeholderText: row.secure ? "" : row.placeholder
        echoMode: row.secure ? TextInput.Password : TextInput.Normal
        Accessible.name: row.label
        onTextEdited: row.edited(text)
    }
}
