#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// How the screens read a number out of a text field: exactly as typed, an optional leading
// "+" or "-", then one or more ASCII digits and nothing else (no blanks). Leading zeros are fine.
namespace protocol {

// A signed 64-bit decimal; a value that overflows does not parse.
std::optional<std::int64_t> parseSignedDecimal(std::string_view text);

// An unsigned decimal no greater than `max`; a "-" sign is accepted only when the value is 0.
std::optional<std::uint64_t> parseUnsignedDecimal(std::string_view text, std::uint64_t max);

inline std::optional<std::uint16_t> parseUInt16(std::string_view text) {
    const auto v = parseUnsignedDecimal(text, UINT16_MAX);
    return v ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*v)) : std::nullopt;
}
inline std::optional<std::uint32_t> parseUInt32(std::string_view text) {
    const auto v = parseUnsignedDecimal(text, UINT32_MAX);
    return v ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*v)) : std::nullopt;
}
inline std::optional<std::uint8_t> parseUInt8(std::string_view text) {
    const auto v = parseUnsignedDecimal(text, UINT8_MAX);
    return v ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*v)) : std::nullopt;
}

} // namespace protocol
