import QtQuick

// Returns from a pushed screen to the one below it.
ToolbarButton {
    symbol: "chevron.left"
    text: qsTr("Back")
}
