#pragma once

#include "protocol/bytes.hpp"

#include <stdexcept>
#include <string>
#include <string_view>

namespace testing_support {

// "1F 28 0F" -> bytes; blanks are ignored. Throws on anything else, so a typo in a vector fails
// the test instead of silently shortening it.
inline protocol::Bytes hex(std::string_view text) {
    std::string digits(text);
    std::erase(digits, ' ');
    if (digits.size() % 2 != 0 ||
        digits.find_first_not_of("0123456789ABCDEFabcdef") != digits.npos) {
        throw std::invalid_argument("bad hex vector: " + std::string(text));
    }
    protocol::Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

} // namespace testing_support
