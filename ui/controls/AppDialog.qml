import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// A modal alert with a single dismiss button: one instance per source of alerts, with title and
// message bound and open() called when the source raises one. closed() fires however it is
// dismissed (button or Escape), which is where the source's alert gets cleared.
Dialog {
    id: dialog

    property string message
    property string buttonText: "OK"

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(380, parent ? parent.width - 40 : 380)
    modal: true
    closePolicy: Popup.CloseOnEscape
    padding: 20
    topPadding: 8

    // The title bar of the Basic style is grey; this one sits on the card.
    header: Text {
        padding: 20
        bottomPadding: 0
        text: dialog.title
        font: Theme.rowTitleFont
        color: Theme.ink
        wrapMode: Text.Wrap
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    contentItem: Text {
        text: dialog.message
        textFormat: Text.PlainText // messages quote names, paths and texts: data, never markup
        font: Theme.bodyFont
        color: Theme.ink
        wrapMode: Text.Wrap
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // Our own button: the standard buttons of a Dialog cannot be reached by assistive technology.
    footer: Control {
        padding: 20
        topPadding: 0
        contentItem: PrimaryButton {
            // Takes the keyboard focus, so Space or Return dismisses the alert at once.
            focus: true
            text: dialog.buttonText
            filled: true
            onClicked: dialog.accept()
            Keys.onReturnPressed: dialog.accept()
            Keys.onEnterPressed: dialog.accept()
        }
    }

    background: Rectangle {
        radius: 14
        color: Theme.paper
        border.width: 1
        border.color: Theme.hairline
    }

    T.Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, 0.25)
    }
}
