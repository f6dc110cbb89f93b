#include "protocol/frame.hpp"

#include <algorithm>

namespace protocol {

std::optional<Bytes> makeFrame(std::uint8_t functionCode, const Bytes& payload) {
    if (payload.size() > kMaxFramePayload) {
        return std::nullopt;
    }
    Bytes frame;
    frame.reserve(payload.size() + 5);
    frame.push_back(kUnitSeparator);
    frame.push_back(kOpenParen);
    frame.push_back(functionCode);
    frame.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    frame.push_back(static_cast<std::uint8_t>((payload.size() >> 8) & 0xFF));
    append(frame, payload);
    return frame;
}

Bytes utf8Bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes cStringBytes(std::string_view text) {
    Bytes bytes = utf8Bytes(text);
    bytes.push_back(0x00);
    return bytes;
}

Bytes u16LEClamped(long long n) {
    const auto value = static_cast<std::uint16_t>(std::clamp<long long>(n, 0, 65535));
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

Bytes u16BE(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
}

Bytes u32BE(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>((value >> 16) & 0xFF),
            static_cast<std::uint8_t>((value >> 8) & 0xFF),
            static_cast<std::uint8_t>(value & 0xFF)};
}

std::uint8_t xorChecksum(const std::uint8_t* begin, const std::uint8_t* end) {
    std::uint8_t sum = 0;
    for (const auto* p = begin; p != end; ++p) {
        sum ^= *p;
    }
    return sum;
}

std::uint8_t xorChecksum(const Bytes& bytes) {
    return xorChecksum(bytes.data(), bytes.data() + bytes.size());
}

Bytes oneByteSetting(std::uint8_t subCode, std::uint8_t value) {
    return {subCode, value, static_cast<std::uint8_t>(subCode ^ value)};
}

std::string hexText(const Bytes& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            text.push_back(' ');
        }
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

std::string hexDumpLine(std::string_view prefix, const Bytes& bytes) {
    std::string line(prefix);
    line += hexText(bytes);
    return line;
}

Bytes testPrintCommand() {
    return {0x12, 0x54};
}

} // namespace protocol
