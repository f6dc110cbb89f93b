#include "protocol/number_text.hpp"

namespace protocol {
namespace {

struct SplitNumber {
    bool negative = false;
    std::string_view digits;
};

// Splits off the optional sign; fails unless what is left is one or more ASCII digits.
std::optional<SplitNumber> splitSign(std::string_view text) {
    SplitNumber split;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        split.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    split.digits = text;
    return split;
}

// The magnitude of the digits, or nothing when it exceeds `limit`.
std::optional<std::uint64_t> magnitude(std::string_view digits, std::uint64_t limit) {
    std::uint64_t value = 0;
    for (char c : digits) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit > limit || value > (limit - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

std::optional<std::int64_t> parseSignedDecimal(std::string_view text) {
    const auto split = splitSign(text);
    if (!split) {
        return std::nullopt;
    }
    constexpr std::uint64_t maxPositive = INT64_MAX;
    const auto value = magnitude(split->digits, split->negative ? maxPositive + 1 : maxPositive);
    if (!value) {
        return std::nullopt;
    }
    if (split->negative) {
        return *value == maxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(*value);
    }
    return static_cast<std::int64_t>(*value);
}

std::optional<std::uint64_t> parseUnsignedDecimal(std::string_view text, std::uint64_t max) {
    const auto split = splitSign(text);
    if (!split) {
        return std::nullopt;
    }
    const auto value = magnitude(split->digits, max);
    if (!value || (split->negative && *value != 0)) {
        return std::nullopt;
    }
    return value;
}

} // namespace protocol
