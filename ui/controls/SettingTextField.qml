import QtQuick
import QtQuick.Layouts

// A titled input. Bind text one way and write edits back from textEdited: typing keeps the
// binding in place, so the owner's value stays the single source.
ColumnLayout {
    id: field

    property string title
    property bool isSecure: false
    property alias text: input.text
    readonly property alias input: input
    signal textEdited()

    spacing: 6

    FieldLabel {
        Layout.topMargin: 4
        text: field.title
    }

    AppTextField {
        id: input
        Layout.fillWidth: true
        Layout.bottomMargin: 4
        placeholderText: ""
        // One input whose echo mode changes, so switching kinds can never drop the text.
        echoMode: field.isSecure ? TextInput.Password : TextInput.Normal
        inputMethodHints: field.isSecure ? Qt.ImhSensitiveData | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
                                         : Qt.ImhNone
        Accessible.name: field.title
        onTextEdited: field.textEdited()
    }
}
