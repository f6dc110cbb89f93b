#pragma once

#include "protocol/bytes.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The outer layout every setting travels in: 1F 28, a function code, a 16-bit little-endian
// payload length, the payload. Plus the primitive encodings the command builders assemble
// payloads from, and the hex-dump line printed for every command sent.
namespace protocol {

inline constexpr std::uint8_t kUnitSeparator = 0x1F; // US
inline constexpr std::uint8_t kOpenParen = 0x28;     // "("

namespace fn {
inline constexpr std::uint8_t parameter = 0x0F;   // basic, name, IP and Wi-Fi commands
inline constexpr std::uint8_t mqttSetting = 0x54; // "T": one MQTT setting, named by a sub-code
inline constexpr std::uint8_t mqttLogin = 0x51;   // "Q": MQTT user name and password
inline constexpr std::uint8_t tls = 0x10;         // fixed TLS strings (bytes 3-4 are no length)
} // namespace fn

// Log prefixes of the screens' console lines (each ends with one space).
inline constexpr std::string_view kMqttLogPrefix = "发送MQTT命令: ";
inline constexpr std::string_view kBasicLogPrefix = "发送命令: ";
inline constexpr std::string_view kIPLogPrefix = "发送IP设置命令: ";
inline constexpr std::string_view kWiFiLogPrefix = "发送WIFI设置命令: ";

// The most a frame's 16-bit length field can say.
inline constexpr std::size_t kMaxFramePayload = 65535;

// 1F 28, the function code, the payload length (low byte, high byte), the payload. Nothing when
// the payload is longer than the length field can say: the printer would read the excess as
// further commands, so such a frame is never made.
std::optional<Bytes> makeFrame(std::uint8_t functionCode, const Bytes& payload);

Bytes utf8Bytes(std::string_view text);
Bytes cStringBytes(std::string_view text); // the UTF-8 bytes and one 0x00
Bytes u16LEClamped(long long n);           // clamped to 0...65535, low byte first
Bytes u16BE(std::uint16_t value);
Bytes u32BE(std::uint32_t value);
std::uint8_t xorChecksum(const Bytes& bytes);
std::uint8_t xorChecksum(const std::uint8_t* begin, const std::uint8_t* end);
// Sub-code, value, and the XOR of the two.
Bytes oneByteSetting(std::uint8_t subCode, std::uint8_t value);

// "<prefix>1F 28 ..." - each byte as two upper-case hex digits, single spaces between.
std::string hexDumpLine(std::string_view prefix, const Bytes& bytes);
// The bytes alone, as hexDumpLine prints them.
std::string hexText(const Bytes& bytes);

// The communication test: the two bytes 12 54, the same on every transport.
Bytes testPrintCommand();

} // namespace protocol
