#pragma once

#include "protocol/bytes.hpp"
#include "protocol/mqtt_commands.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The rules behind the MQTT screen's Apply buttons, kept free of any window so the command-line
// twin sends exactly what the screen would, in the same order and with the same spacing.
namespace protocol::mqtt {

inline constexpr std::string_view kRestartNotice =
    "MQTT settings updated, please restart the printer to apply the settings";
inline constexpr std::string_view kInvalidServerOrPort =
    "Please enter a valid server address and port";
inline constexpr std::string_view kLoginTooLong = "Username/password too long (max 60 each)";
inline constexpr std::string_view kInvalidHeartbeat = "Invalid heartbeat interval";
inline constexpr std::string_view kHeartbeatOutOfRange = "Heartbeat interval must be 0 or 3...7200";
inline constexpr std::string_view kKeepAliveOutOfRange = "KeepAlive must be 1...7200 seconds";
inline constexpr std::string_view kMissingOneWayCertificate =
    "Please import a .crt certificate for one-way TLS";
inline constexpr std::string_view kMissingMutualFiles =
    "Please import all three .crt files for mutual TLS";

// Screen defaults. The NTP host is a public pool; the DNS test page a name reserved for
// examples, which resolves everywhere and belongs to nobody's service.
inline constexpr std::string_view kDefaultNtpServer = "pool.ntp.org";
inline constexpr std::string_view kDefaultTestWebUrl = "www.example.com";
inline constexpr std::string_view kDefaultZone = "8";
inline constexpr std::string_view kDefaultPort = "1883";
inline constexpr std::string_view kTlsPort = "8883";

// When each step of an Apply leaves, in milliseconds after the press.
inline constexpr int kLoginDelayMs = 300;
inline constexpr int kClientIdDelayMs = 450;
inline constexpr int kTopicStepMs = 250; // topics and timing: one step every 250 ms

// Time zone text (hours east of UTC) to the clock command's zone byte: quarter hours, clamped to
// 0...255; empty or unparseable text counts as 8.
std::uint8_t zoneByte(std::string_view zoneText);

// One step of an Apply: the command to send, or the message to show instead.
struct Step {
    std::optional<Bytes> command;
    std::string error;
};
Step heartbeatStep(std::string_view heartbeatText);
Step keepAliveStep(std::string_view keepAliveText);

struct BrokerFields {
    std::string server;
    std::string port{kDefaultPort};
    std::string username;
    std::string password;
    std::string clientId;
    bool useDefaultClientID = true;
};
struct TopicFields {
    std::uint8_t selectedSubTopicType = kSourceCpuUuid;
    bool publishReceiptInfo = false;
    std::uint8_t pubQos = 1;
    std::string heartbeatPubTopic = "HearBeat";
    std::string receiptReplyTopic = "PrintSuccess";
};
struct TimingFields {
    std::string heartbeatInterval = "30";
    std::string keepAliveInterval = "30";
    std::string ntpServer{kDefaultNtpServer};
    std::string dateZone{kDefaultZone};
    std::string testWebUrl{kDefaultTestWebUrl};
};

// The client ID command as the broker pane builds it at 0.45 s.
Bytes clientIdCommand(const BrokerFields& fields);

struct TimedCommand {
    int delayMs;
    Bytes bytes;
    bool restartNotice;
};
// What one press sends, in order, and the messages it shows (in the order they appear).
struct ApplyPlan {
    std::vector<TimedCommand> commands;
    std::vector<std::string> errors;
};

ApplyPlan planBroker(const BrokerFields& fields);
ApplyPlan planTopics(const TopicFields& fields);
ApplyPlan planTiming(const TimingFields& fields);
ApplyPlan planTlsOff();
// certificateText as held by the text area; it is trimmed here.
ApplyPlan planOneWayTls(std::string_view certificateText);
ApplyPlan planMutualTls(const Bytes& caFile, const Bytes& clientFile, const Bytes& keyFile,
                        std::string_view password);

// The port field after a TLS mode change (0 none, 1 one-way, 2 mutual).
std::string adjustedPortForTlsMode(int tlsMode, std::string_view port);

} // namespace protocol::mqtt
