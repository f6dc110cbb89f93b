import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// A category screen's scrolling form.
ScrollView {
    id: form
    default property alias content: column.data
    contentWidth: availableWidth
    ScrollBar.vertical.policy: ScrollBar.AsNeeded

    ColumnLayout {
        id: column
        width: form.availableWidth - 56
        x: 28
        spacing: 18
        Item { Layout.preferredHeight: 4 }
    }
}
