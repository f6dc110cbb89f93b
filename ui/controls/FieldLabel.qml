import QtQuick

// Caption above a field.
Text {
    font.family: Theme.captionFont.family
    font.pixelSize: Theme.captionFont.pixelSize
    font.weight: Theme.captionFont.weight
    font.capitalization: Font.AllUppercase
    font.letterSpacing: 0.6
    color: Theme.inkSecondary
}
