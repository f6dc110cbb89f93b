#pragma once

#include "connection/target.hpp"

#include <QString>
#include <optional>

namespace ui {

// What printer-config's own command line asks for. Qt's options (-platform NAME, -style NAME, …)
// are left to Qt, as is any other option with a single dash; an unknown `--` option or a word
// that is no option's value is refused.
struct WindowOptions {
    bool help = false;
    // --connect TARGET: the window starts connected to it.
    std::optional<connection::Target> target;
    // Why the command line was refused; empty when it was not.
    QString error;
};

WindowOptions parseWindowOptions(int argc, const char* const* argv);

// The text of --help.
QString windowUsageText();

} // namespace ui
