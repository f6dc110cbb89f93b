import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// A caption over a text field with a placeholder. `edited` reports every new text, typed or put
// there otherwise (an input method, dictation through the accessibility interface).
ColumnLayout {
    id: field
    property string title
    property string placeholder
    property string text
    property bool numeric: false // an address or a port: the face with clear points
    signal edited(string value)

    spacing: 6
    // Kept in step by hand both ways: a binding would be dropped by the first keystroke.
    onTextChanged: if (input.text !== text) input.text = text
    Component.onCompleted: input.text = text

    FieldLabel {
        text: field.title
    }
    TextField {
        id: input
        Layout.fillWidth: true
        placeholderText: field.placeholder
        font: field.numeric ? Theme.numberFont : Theme.bodyFont
        color: Theme.ink
        padding: 10
        selectByMouse: true
        Accessible.name: field.title
        onTextChanged: if (text !== field.text) field.edited(text)
        background: Rectangle {
            radius: 8
            color: Qt.rgba(1, 1, 1, 0.7)
            border.width: input.activeFocus ? 1.5 : 1
            border.color: input.activeFocus ? Theme.accent : Theme.hairline
        }
    }
}
