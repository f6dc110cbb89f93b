#pragma once

#include "protocol/bytes.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

// Commands that configure the printer's MQTT client. Settings travel in the MQTT setting frame
// (function code 0x54, first payload byte a sub-code), the login in its own frame (0x51), and TLS
// as fixed strings beginning 1F 28 10 07.
namespace protocol {

namespace mqtt {
inline constexpr std::uint8_t broker = 'S';
inline constexpr std::uint8_t clientId = 'C';
inline constexpr std::uint8_t subscribeSource = 'T'; // three-byte payload
inline constexpr std::uint8_t clock = 'T';           // text payload; shares the letter
inline constexpr std::uint8_t receiptPublish = 'R';
inline constexpr std::uint8_t publishQoS = 'Q';
inline constexpr std::uint8_t heartbeatTopic = 'h';
inline constexpr std::uint8_t receiptReplyTopic = 'r';
inline constexpr std::uint8_t heartbeatInterval = 'H';
inline constexpr std::uint8_t keepAlive = 'P';
inline constexpr std::uint8_t dnsTest = 'D';
inline constexpr std::uint8_t oneWayTLS[3] = {'N', 'P', 'K'};

inline constexpr std::size_t kLoginFieldMax = 60;    // bytes of user name, and of password
inline constexpr std::size_t kLoginPayloadMax = 120; // name, separator, password

// Subscribe-topic sources.
inline constexpr std::uint8_t kSourceCpuUuid = 0, kSourceMac = 1, kSourceImei = 2;
} // namespace mqtt

// The builders that carry a text give nothing when the text does not fit its frame (the limits
// in limits.hpp say how long each may be); the others always give their command.
std::optional<Bytes> makeBrokerAddressCommand(std::string_view server, std::uint16_t port);
// No command when the user name or the password exceeds 60 bytes, or the payload 120.
std::optional<Bytes> makeLoginCommand(std::string_view username, std::string_view password);
// Absent or empty: the fixed "no value" form 1F 28 54 04 00 43 00 00 00.
std::optional<Bytes> makeClientIdCommand(std::optional<std::string_view> clientId);
Bytes makeSubscribeSourceCommand(std::uint8_t source);
Bytes makeReceiptPublishCommand(bool publish);
// QoS 2 when asked for 2; QoS 1 for anything else.
Bytes makePublishQoSCommand(std::uint8_t qos);
// subCode: mqtt::heartbeatTopic or mqtt::receiptReplyTopic.
std::optional<Bytes> makeTopicCommand(std::uint8_t subCode, std::optional<std::string_view> topic);
Bytes makeHeartbeatIntervalCommand(std::uint32_t seconds);
Bytes makeKeepAliveCommand(std::uint32_t seconds);
std::optional<Bytes> makeClockCommand(std::string_view ntpServer, std::uint8_t zoneByte);
std::optional<Bytes> makeDNSTestCommand(std::string_view url);
Bytes makeTLSOffCommand();
// The certificate text, already trimmed and not empty, sent as text without a terminator.
std::optional<Bytes> makeOneWayTLSCommand(std::string_view certificate);
// Each part whole, its length in a 16-bit field: nothing when a part is longer than 65,535
// bytes (the field cannot say so, and the printer would cut the parts in the wrong places).
std::optional<Bytes> makeMutualTLSCommand(const Bytes& caFile, const Bytes& clientFile,
                                          const Bytes& keyFile, std::string_view password);

} // namespace protocol
