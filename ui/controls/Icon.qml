import QtQuick

// A symbol of the design drawn from the embedded Material Icons font. Codepoints rather than
// ligature names, so the glyph does not depend on the text shaper applying the font's ligatures.
Text {
    id: icon

    property string symbol
    property real size: 16
    property int weight: Font.Normal

    // Symbol name used by the design -> Material Icons codepoint.
    readonly property var codepoints: ({
        "network": 0xeb2f,                            // lan
        "wave.3.right": 0xe51e,                       // sensors
        "cable.connector": 0xe1e0,                    // usb
        "antenna.radiowaves.left.and.right": 0xebba,  // cell_tower
        "slider.horizontal.3": 0xe429,                // tune
        "wifi": 0xe63e,                               // wifi
        "arrow.clockwise": 0xe5d5,                    // refresh
        "magnifyingglass": 0xe8b6,                    // search
        "printer": 0xe8ad,                            // print
        "xmark": 0xe5cd,                              // close
        "chevron.right": 0xe5cc,                      // chevron_right
        "checkmark": 0xe5ca,                          // check
        // Our own, for controls the design leaves to the platform.
        "chevron.left": 0xe5cb,                       // chevron_left
        "chevron.up.chevron.down": 0xe5d7             // unfold_more
    })
    readonly property bool known: codepoints.hasOwnProperty(symbol)

    text: known ? String.fromCodePoint(codepoints[symbol]) : ""
    font.family: Theme.iconFamily
    font.pixelSize: size
    font.weight: weight
    color: Theme.ink
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    // Symbols always sit next to a text that says the same thing.
    Accessible.ignored: true

    onSymbolChanged: if (symbol !== "" && !codepoints.hasOwnProperty(symbol)) console.warn("Icon: no glyph for symbol", symbol)
}
