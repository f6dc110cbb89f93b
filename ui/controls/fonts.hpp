#pragma once

namespace ui {

// Registers the embedded lookalike fonts and maps the design's family names onto them. Call after
// the QGuiApplication exists and before any QML is loaded; later calls do nothing more.
void installFonts();

} // namespace ui
