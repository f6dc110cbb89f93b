#pragma once

#include "protocol/bytes.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The parameter frame (function code 0x0F) and the commands that rename the printer and set
// how its Ethernet and Wi-Fi interfaces get an IPv4 address.
//
// Parameter frame: 1F 28 0F, N (low byte, then a constant 00), 1F, a command letter, the fields,
// and the XOR of every payload byte before it. N counts from offset 5, checksum included.
namespace protocol {

namespace letter {
inline constexpr std::uint8_t printerName = 'N';
inline constexpr std::uint8_t ipConfig = 'I';
inline constexpr std::uint8_t basicSettings = 's';
inline constexpr std::uint8_t wifi = 'w';
} // namespace letter

// The DNS servers a static configuration hands the printer; the user never enters them.
// Two independent public resolvers, so that one operator's outage does not leave the printer
// unable to resolve its MQTT broker, NTP server or DNS test page.
inline constexpr std::array<std::uint8_t, 4> kPrimaryDNS = {1, 1, 1, 1};
inline constexpr std::array<std::uint8_t, 4> kSecondaryDNS = {8, 8, 8, 8};

// The frame says N in one byte (the high byte is a constant 00): nothing when the fields need
// more than 255 bytes with the letter and the checksum.
inline constexpr std::size_t kMaxParameterPayload = 255;
std::optional<Bytes> makeParameterFrame(std::uint8_t commandLetter, const Bytes& fields);

// The name as entered, its UTF-8 bytes and one 0x00; nothing for a name over 251 bytes.
std::optional<Bytes> makePrinterNameCommand(std::string_view name);

// Dynamic forms ignore the three texts. The static form always says N = 0x19, so it is made
// only when each text holds four dotted numbers (checkStaticAddresses); else nothing.
std::optional<Bytes> makeIPCommand(bool isWiFi, bool isDynamic, std::string_view ipAddress,
                                   std::string_view subnetMask, std::string_view gateway);

// One byte per non-empty dotted part; a part that is not a number 0...255 becomes 0x00.
Bytes ipTextToBytes(std::string_view text);

} // namespace protocol
