#pragma once

namespace ui {

// Makes Qt Quick items tell assistive tools when they are disabled. Qt 6.4 reports every item as
// enabled and sensitive, so a screen reader announces a greyed-out "Connect USB" as a button that
// can be pressed. Call after creating the application and before loading QML: Qt Quick registers
// its own factory when its library loads, the factory installed last is asked first, and items made
// while the QML loads get their accessible interfaces then.
void installAccessibleStates();

} // namespace ui
