import QtQuick
import QtQuick.Controls.Basic

// Mutually exclusive choices side by side, in equal shares of the width. model is a list of
// labels; currentIndex is the selection; activated(index) reports a choice made by the user, by
// pointer, keyboard or assistive technology (which only flips checked, hence the checkedChanged
// handling). A group box to assistive tools, named by title; it draws no caption of its own.
GroupBox {
    id: picker

    property var model: []
    property int currentIndex: -1
    signal activated(int index)

    padding: 2
    topPadding: 2
    label: null
    font: Theme.captionFont
    implicitWidth: leftPadding + rightPadding + segments.count * sizes.widest
                   + sizes.spacing * Math.max(0, segments.count - 1)
    implicitHeight: topPadding + bottomPadding + Math.ceil(sizes.metrics.height) + 2 * sizes.segmentPadding

    onCurrentIndexChanged: {
        for (let i = 0; i < segments.count; ++i) {
            const segment = segments.itemAt(i);
            if (segment)
                segment.checked = i === currentIndex;
        }
    }

    QtObject {
        id: sizes
        readonly property real segmentPadding: 6
        readonly property real sidePadding: 12
        readonly property real spacing: 2
        readonly property FontMetrics metrics: FontMetrics { font: picker.font }
        // Measured in the weight of the chosen segment, so that choosing never widens the picker.
        readonly property FontMetrics chosenMetrics: FontMetrics {
            font: Qt.font({ family: picker.font.family, pixelSize: picker.font.pixelSize,
                            weight: Font.DemiBold })
        }
        readonly property real widest: {
            let widest = 0;
            for (let i = 0; i < picker.model.length; ++i)
                widest = Math.max(widest, Math.ceil(chosenMetrics.advanceWidth(picker.model[i])));
            return widest + 2 * sidePadding;
        }
    }

    background: Rectangle {
        radius: 9
        color: Qt.rgba(0, 0, 0, 0.05)
        border.width: 1
        border.color: Theme.hairline
    }

    contentItem: Row {
        spacing: sizes.spacing

        Repeater {
            id: segments
            model: picker.model

            // Radio buttons to assistive tools; the picker keeps exactly one checked itself.
            delegate: RadioButton {
                id: segment

                required property int index
                required property var modelData

                width: (picker.availableWidth - sizes.spacing * (segments.count - 1)) / segments.count
                height: picker.availableHeight
                text: modelData
                autoExclusive: false
                indicator: null
                font: picker.font
                padding: sizes.segmentPadding
                leftPadding: sizes.sidePadding
                rightPadding: sizes.sidePadding

                Component.onCompleted: checked = index === picker.currentIndex
                onCheckedChanged: {
                    if (checked && picker.currentIndex !== index) {
                        picker.currentIndex = index;
                        picker.activated(index);
                    } else if (!checked && picker.currentIndex === index) {
                        // The selection is only ever moved, never cleared.
                        checked = true;
                    }
                }

                contentItem: Text {
                    text: segment.text
                    font.family: segment.font.family
                    font.pixelSize: segment.font.pixelSize
                    font.weight: segment.checked ? Font.DemiBold : segment.font.weight
                    color: segment.checked ? "white" : Theme.ink
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
                background: Rectangle {
                    radius: 7
                    color: segment.checked ? Theme.accent
                                           : segment.pressed || segment.visualFocus ? Theme.accentTint
                                                                                    : "transparent"
                }

                Accessible.name: text
            }
        }
    }
}
