#include "discovery/escaped_text.hpp"

namespace discovery {

QString escapedText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const auto code = c.unicode();
        if (code == u'\\') {
            out += QLatin1String("\\\\");
        } else if (code == u'\t') {
            out += QLatin1String("\\t");
        } else if (code == u'\n') {
            out += QLatin1String("\\n");
        } else if (code == u'\r') {
            out += QLatin1String("\\r");
        } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 ||
                   code == 0x2029) {
            out += QLatin1String("\\u") +
                   QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace discovery
