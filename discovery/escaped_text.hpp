#pragma once

#include <QString>

namespace discovery {

// A name that came from the network or a device (a DNS-SD service, a Bluetooth or USB product
// name), made safe to show as one field of one line: a backslash becomes "\\", TAB, line feed
// and carriage return become "\t", "\n" and "\r", and every other control character (C0, DEL,
// C1) and the Unicode line and paragraph separators become "\uXXXX". Reversible (printf '%b'
// reads it back); everything else is kept as it is.
QString escapedText(const QString& text);

} // namespace discovery
