#pragma once

#include "protocol/bytes.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace printerctl {

// Reads hex bytes as printerctl --dry-run and the application's console lines print them:
// pairs of hex digits separated by blanks, commas or line breaks; "0x" prefixes are allowed,
// and a console line's prefix up to ": " is skipped. Returns the offending token on failure.
struct HexParse {
    protocol::Bytes bytes;
    std::optional<std::string> badToken;
};
HexParse parseHexText(std::string_view text);

} // namespace printerctl
