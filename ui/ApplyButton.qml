import QtQuick
import QtQuick.Layouts
import PrinterConfig.Controls

// A pane's Apply: filled, at most 280 wide.
PrimaryButton {
    filled: true
    Layout.fillWidth: true
    Layout.maximumWidth: 280
    Layout.alignment: Qt.AlignHCenter
}
