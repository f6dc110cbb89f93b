import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import PrinterConfig.Controls

// One choice of the transport selector: its icon over its label. Pressing the chosen one again
// chooses it again (which resets its fields). A radio button to assistive tools (Qt Quick Controls
// replace a role set in QML with the control's own), checked while selected; pressing never
// unchecks it, the selection follows the view model.
RadioButton {
    id: button
    property string symbol
    property bool selected: false
    signal activated()

    implicitHeight: 58
    padding: 6
    hoverEnabled: true
    checkable: false
    autoExclusive: false
    checked: selected
    indicator: null
    onClicked: activated()
    Accessible.name: text

    background: Rectangle {
        radius: 10
        color: button.selected ? Theme.accentTint : Qt.rgba(1, 1, 1, 0.45)
        border.width: 1
        border.color: button.selected ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.35)
                                      : Theme.hairline
        FocusRing { shown: button.visualFocus }
    }

    contentItem: ColumnLayout {
        spacing: 3
        Icon {
            Layout.alignment: Qt.AlignHCenter
            symbol: button.symbol
            size: 20
            color: button.selected ? Theme.accent : Theme.inkSecondary
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: button.text
            font: Theme.captionFont
            color: button.selected ? Theme.accent : Theme.inkSecondary
        }
    }
}
