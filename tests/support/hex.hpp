#pragma once

#include "protocol/bytes.hpp"

#include <stdexcept>
#include <string_view>

namespace testing_support {

// "1F 28 0F" -> bytes; blanks are ignored. Throws on anything else, so a typo in a vector fails
// the test instead of silently shortening it.
inline protocol::Bytes hex(std::string_view text) {
    protocol::Bytes bytes;
    int high = -1;
    for (char c : text) {
        int v;
        if (c == ' ') {
            continue;
        } else if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else {
            throw std::invalid_argument("bad hex vector");
        }
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::invalid_argument("odd hex vector");
    }
    return bytes;
}

} // namespace testing_support
