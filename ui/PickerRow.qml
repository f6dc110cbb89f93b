import QtQuick
import QtQuick.Layouts
import PrinterConfig.Controls

// A labelled segmented choice of an MQTT pane.
RowLayout {
    id: row
    property string label
    property var options: []
    property int currentIndex: 0
    signal activated(int index)

    Layout.fillWidth: true
    spacing: 12
    Text {
        text: row.label
        font: Theme.bodyFont
        color: Theme.ink
        // The longest labels ("Subscribe topic from", "Receipt reply topic") fit on one line.
        Layout.preferredWidth: 150
        wrapMode: Text.WordWrap
    }
    SegmentedPicker {
        // As tall as the text fields of the same pane.
        Layout.preferredHeight: 38
        title: row.label
        model: row.options
        currentIndex: row.currentIndex
        onActivated: (index) => row.activated(index)
    }
    Item { Layout.fillWidth: true }
}
