#include "plans/field_text.hpp"

namespace plans {

std::string fieldText(const QString& text) {
    if (text.isValidUtf16()) {
        return text.toStdString();
    }
    std::string bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            bytes += QString(text.mid(i, 2)).toStdString();
            ++i;
        } else if (c.isSurrogate()) {
            // The three-byte form of the lone surrogate: never valid UTF-8.
            const char16_t unit = c.unicode();
            bytes += static_cast<char>(0xE0 | (unit >> 12));
            bytes += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            bytes += QString(c).toStdString();
        }
    }
    return bytes;
}

} // namespace plans
