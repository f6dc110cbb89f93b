import QtQuick
import QtTest
import PrinterConfig.Controls
import PrinterConfig.Testing

TestCase {
    name: "Theme"

    Text { id: sample; text: "Receipt 42" }
    Icon { id: icon }

    // The design's families are not installed anywhere; each must land on an embedded lookalike at
    // the right size, in a face of its own rather than a synthesised weight. The tests run with no
    // system fonts (fonts.conf), so only what installFonts() registered can match.
    function test_font_data() {
        return [
            { tag: "displayFont", family: "Roboto Condensed", size: 42, style: "Bold" },
            { tag: "titleFont", family: "Roboto Condensed", size: 28, style: "Bold" },
            { tag: "rowTitleFont", family: "Manrope", size: 20, style: "SemiBold" },
            { tag: "buttonFont", family: "Manrope", size: 15, style: "SemiBold" },
            { tag: "bodyFont", family: "Manrope", size: 14, style: "Regular" },
            { tag: "captionFont", family: "Manrope", size: 12, style: "Medium" },
        ];
    }

    function test_font(data) {
        sample.font = Theme[data.tag];
        compare(sample.fontInfo.family, data.family);
        compare(sample.fontInfo.pixelSize, data.size);
        compare(sample.fontInfo.styleName, data.style);
    }

    function test_licence_embedded_data() {
        return [
            { tag: "fonts-manrope", licence: "SIL OPEN FONT LICENSE Version 1.1" },
            { tag: "fonts-roboto-unhinted", licence: "License: Apache-2.0" },
            { tag: "fonts-material-design-icons-iconfont", licence: "Apache License, Version 2.0" },
            { tag: "Apache-2.0", licence: "TERMS AND CONDITIONS FOR USE, REPRODUCTION, AND DISTRIBUTION" },
        ];
    }

    function test_licence_embedded(data) {
        const text = Probe.resourceText(":/fonts/licenses/" + data.tag + ".txt");
        verify(text.includes(data.licence), data.tag + " licence text");
    }

    // Each design symbol must come out as the very glyph the icon font's own ligature for the
    // Material name produces: a wrong codepoint shows some other icon, a missing one a box.
    function test_icon_glyph_data() {
        return [
            { tag: "network", ligature: "lan" },
            { tag: "wave.3.right", ligature: "sensors" },
            { tag: "cable.connector", ligature: "usb" },
            { tag: "antenna.radiowaves.left.and.right", ligature: "cell_tower" },
            { tag: "slider.horizontal.3", ligature: "tune" },
            { tag: "wifi", ligature: "wifi" },
            { tag: "arrow.clockwise", ligature: "refresh" },
            { tag: "chevron.right", ligature: "chevron_right" },
            { tag: "checkmark", ligature: "check" },
            { tag: "chevron.left", ligature: "chevron_left" },
            { tag: "chevron.up.chevron.down", ligature: "unfold_more" },
        ];
    }

    function test_icon_glyph(data) {
        icon.symbol = data.tag;
        compare(icon.fontInfo.family, "Material Icons");
        const expected = Probe.glyphs(icon.font, data.ligature);
        compare(expected.length, 1, "the font has a ligature for " + data.ligature);
        const drawn = Probe.glyphs(icon.font, icon.text);
        compare(drawn.length, 1);
        verify(drawn[0] !== 0, "not the missing-glyph box");
        compare(drawn[0], expected[0]);
    }
}
