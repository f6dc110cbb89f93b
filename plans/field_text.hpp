#pragma once

#include <QString>
#include <string>

namespace plans {

// A field's text as the plans check and send it: its UTF-8 bytes. A lone surrogate, which UTF-8
// cannot encode (Qt would write "?" in its place, and the printer would store that), is kept as
// the invalid byte sequence it would be, so the field's check refuses it by name.
std::string fieldText(const QString& text);

} // namespace plans
