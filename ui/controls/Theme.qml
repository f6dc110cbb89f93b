pragma Singleton
import QtQuick

// The palette and type scale every screen shares. Sizes are device-independent pixels, so the
// design's point sizes are used as pixel sizes and stay the same on every screen density.
QtObject {
    readonly property color ink: Qt.rgba(0.12, 0.14, 0.16, 1)
    readonly property color inkSecondary: Qt.rgba(0.35, 0.38, 0.42, 1)
    readonly property color paper: Qt.rgba(0.97, 0.965, 0.95, 1)
    readonly property color paperShade: Qt.rgba(0.93, 0.925, 0.91, 1)
    readonly property color accent: Qt.rgba(0.08, 0.45, 0.48, 1)
    readonly property color accentTint: Qt.rgba(0.08, 0.45, 0.48, 0.12)
    readonly property color success: Qt.rgba(0.18, 0.55, 0.38, 1)
    readonly property color danger: Qt.rgba(0.72, 0.28, 0.24, 1)
    readonly property color hairline: Qt.rgba(0, 0, 0, 0.08)

    // "Avenir Next" and "Avenir Next Condensed" resolve to the embedded lookalikes through the
    // substitutions installFonts() sets up.
    readonly property font displayFont: Qt.font({ family: "Avenir Next Condensed", pixelSize: 42, weight: Font.Bold })
    readonly property font titleFont: Qt.font({ family: "Avenir Next Condensed", pixelSize: 28, weight: Font.Bold })
    readonly property font rowTitleFont: Qt.font({ family: "Avenir Next", pixelSize: 20, weight: Font.DemiBold })
    readonly property font buttonFont: Qt.font({ family: "Avenir Next", pixelSize: 15, weight: Font.DemiBold })
    readonly property font bodyFont: Qt.font({ family: "Avenir Next", pixelSize: 14, weight: Font.Normal })
    readonly property font captionFont: Qt.font({ family: "Avenir Next", pixelSize: 12, weight: Font.Medium })
    // Addresses, ports, signal strengths and byte counts: in Manrope the dots of an address all
    // but vanish ("192.168.1.100" reads as "192168.1.100"); Roboto has clear points and figures
    // of one width.
    readonly property font numberFont: Qt.font({ family: "Roboto", pixelSize: 14, weight: Font.Normal })

    readonly property string iconFamily: "Material Icons"
}
