import QtQuick
import QtQuick.Layouts

// A titled input. Bind text one way and write edits back from textEdited, which reports every new
// text (typed, or put there by an input method or an accessibility client): the owner's value
// stays the single source.
ColumnLayout {
    id: field

    property string title
    property bool isSecure: false
    property bool numeric: false // an address: the face with clear points
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
        font: field.numeric ? Theme.numberFont : Theme.bodyFont
        // One input whose echo mode changes, so switching kinds can never drop the text.
        echoMode: field.isSecure ? TextInput.Password : TextInput.Normal
        inputMethodHints: field.isSecure ? Qt.ImhSensitiveData | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
                                         : Qt.ImhNone
        accessibleName: field.title
        onTextChanged: field.textEdited()
    }
}
