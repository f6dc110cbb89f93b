import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// The character sets in table order; the current one carries a checkmark. Choosing one returns.
ListView {
    id: picker
    property var screen
    signal dismiss()

    clip: true
    model: screen ? screen.languageOptions : []
    // Rows are let go while the list still stands: Qt 6.4 crashes when a list destroyed with its
    // rows in place tells a listening screen reader that they are hidden.
    StackView.onRemoved: model = []
    topMargin: 8
    bottomMargin: 8
    spacing: 2
    Accessible.role: Accessible.List
    Accessible.name: "Language / Codepage"
    ScrollBar.vertical: ScrollBar {}

    // Each row a radio button to assistive tools, checked on the current codepage.
    delegate: RadioButton {
        id: row
        required property var modelData
        readonly property bool current: picker.screen && modelData.id === picker.screen.language
        width: ListView.view.width - 28
        x: 14
        topPadding: 9
        bottomPadding: 9
        leftPadding: 12
        rightPadding: 12
        hoverEnabled: true
        text: modelData.title
        checkable: false
        autoExclusive: false
        checked: current
        indicator: null
        opacity: pressed ? 0.6 : 1
        Accessible.name: text
        onClicked: {
            picker.screen.language = modelData.id
            picker.dismiss()
        }
        background: Rectangle {
            radius: 8
            color: row.current ? Theme.accentTint : (row.hovered ? Qt.rgba(1, 1, 1, 0.6) : "transparent")
            FocusRing { shown: row.visualFocus; outerRadius: 8 }
        }
        contentItem: RowLayout {
            Text {
                text: row.modelData.title
                font: Theme.bodyFont
                color: Theme.ink
                Layout.fillWidth: true
            }
            Icon {
                visible: row.current
                symbol: "checkmark"
                size: 16
                color: Theme.accent
            }
        }
    }
}
