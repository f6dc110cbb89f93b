import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// A caption over a text field with a placeholder. `edited` reports what the user typed.
ColumnLayout {
    id: field
    property string title
    property string placeholder
    property string text
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
        font: Theme.bodyFont
        color: Theme.ink
        padding: 10
        selectByMouse: true
        Accessible.name: field.title
        onTextEdited: field.edited(text)
        background: Rectangle {
            radius: 8
            color: Qt.rgba(1, 1, 1, 0.7)
            border.width: input.activeFocus ? 1.5 : 1
            border.color: input.activeFocus ? Theme.accent : Theme.hairline
        }
    }
}
