import QtQuick
import QtQuick.Controls.Basic

// A drop-down choice on the same card as the text fields. title names it for screen readers,
// which can also step through the choices.
ComboBox {
    id: control

    property string title

    font: Theme.bodyFont
    leftPadding: 10
    rightPadding: 10 + indicator.width + 6

    contentItem: Text {
        text: control.displayText
        textFormat: Text.PlainText
        font: control.font
        color: Theme.ink
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    indicator: Icon {
        x: control.width - width - 10
        y: (control.height - height) / 2
        symbol: "chevron.up.chevron.down"
        size: 16
        color: Theme.inkSecondary
    }

    background: Rectangle {
        implicitWidth: 160
        implicitHeight: 38
        radius: 8
        color: Qt.rgba(1, 1, 1, 0.7)
        border.width: 1
        border.color: control.visualFocus || control.popup.visible
                      ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.6) : Theme.hairline
    }

    delegate: ItemDelegate {
        id: option
        width: ListView.view ? ListView.view.width : implicitWidth
        text: control.textRole ? (Array.isArray(control.model) ? modelData[control.textRole] : model[control.textRole])
                               : modelData
        highlighted: control.highlightedIndex === index
        font: control.font
        contentItem: Text {
            text: option.text
            textFormat: Text.PlainText
            font: option.font
            color: Theme.ink
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }
        background: Rectangle {
            radius: 6
            color: option.highlighted || option.pressed ? Theme.accentTint : "transparent"
        }
        Accessible.name: text
        Accessible.onPressAction: clicked()
    }

    popup: Popup {
        y: control.height + 4
        width: control.width
        padding: 4
        // Tall enough for every choice when the window allows; when it does not, the list scrolls
        // and a scroll bar says there is more above or below.
        implicitHeight: Math.min(contentItem.implicitHeight + topPadding + bottomPadding, 420)

        contentItem: ListView {
            id: choices
            clip: true
            implicitHeight: contentHeight
            model: control.popup.visible ? control.delegateModel : null
            currentIndex: control.highlightedIndex
            ScrollBar.vertical: ScrollBar {
                objectName: "choicesScrollBar"
                policy: choices.contentHeight > choices.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            }
        }
        background: Rectangle {
            radius: 8
            color: Theme.paper
            border.width: 1
            border.color: Theme.hairline
        }
    }

    Accessible.name: title
    Accessible.onIncreaseAction: incrementCurrentIndex()
    Accessible.onDecreaseAction: decrementCurrentIndex()
}
