#pragma once

#include "plans/plan.hpp"
#include "protocol/mqtt_commands.hpp"

#include <cstdint>
#include <string>
#include <string_view>

// The MQTT screen's four Apply actions as plans: the commands in order, spaced in time, each
// reading its fields when it runs (the broker address and login excepted: their bytes are those
// of the press), the last one followed by the restart notice.
namespace plans {

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
// The clock command's zone byte counts quarter hours from 0 up: a zone west of UTC cannot be
// said, and east of UTC+14 there is none.
inline constexpr std::string_view kTimezoneOutOfRange =
    "Timezone must be a whole number of hours from 0 to 14 east of UTC (the printer takes no "
    "zone west of UTC)";

// Screen defaults. The NTP host is a public pool; the DNS test page a name reserved for
// examples, which resolves everywhere and belongs to nobody's service.
inline constexpr std::string_view kDefaultNtpServer = "pool.ntp.org";
inline constexpr std::string_view kDefaultTestWebUrl = "www.example.com";
inline constexpr std::string_view kDefaultZone = "8";
inline constexpr std::string_view kDefaultPort = "1883";
inline constexpr std::string_view kTlsPort = "8883";

inline constexpr std::chrono::milliseconds kLoginDelay{300};
inline constexpr std::chrono::milliseconds kClientIdDelay{450};
inline constexpr std::chrono::milliseconds kTopicStep{250}; // topics and timing

// The starting values of a broker section. A login that is not given is no login: the
// printer gets an empty user name and password (the window shows its own starting values).
struct BrokerFields {
    std::string server;
    std::string port{kDefaultPort};
    std::string username;
    std::string password;
    std::string clientId;
    bool useDefaultClientID = true;
};
struct TopicFields {
    std::uint8_t selectedSubTopicType = protocol::mqtt::kSourceCpuUuid;
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

// The words printerctl's options and a profile's values use for the sources, by value.
inline constexpr const char* kSubscribeSourceNames[] = {"cpu-uuid", "mac", "imei"};

Plan brokerPlan(const Reader<BrokerFields>& read);
Plan topicsPlan(Reader<TopicFields> read);
Plan timingPlan(Reader<TimingFields> read);
Plan tlsOffPlan();
// `certificateText` as the text area holds it; it is trimmed here.
Plan oneWayTlsPlan(std::string_view certificateText);
Plan mutualTlsPlan(const protocol::Bytes& caFile, const protocol::Bytes& clientFile,
                   const protocol::Bytes& keyFile, std::string_view password);

// Time zone text (hours east of UTC) to the clock command's zone byte: quarter hours, clamped to
// 0...255; empty or unparseable text counts as 8.
std::uint8_t zoneByte(std::string_view zoneText);
// Why the time zone text cannot be sent: anything but empty (the default, 8) or a whole number
// of hours 0...14.
std::optional<std::string> checkTimezone(std::string_view zoneText);

// The port field after a TLS mode change (0 none, 1 one-way, 2 mutual).
std::string adjustedPortForTlsMode(int tlsMode, std::string_view port);

// The one-way certificate text an imported file gives: PEM text as it is, anything else
// wrapped as PEM; empty for a file of nothing but blanks, which holds no certificate (wrapped,
// it would become an empty PEM block).
std::string oneWayCertificateFromFile(const protocol::Bytes& file, std::string_view extension);

} // namespace plans
