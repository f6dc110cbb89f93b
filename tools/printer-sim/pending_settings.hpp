#pragma once

#include "protocol/decoder.hpp"

#include <map>
#include <optional>
#include <vector>

namespace printer_sim {

// What a printer keeps from the commands it is sent. Each slot holds one setting; a later
// command for the same slot replaces the earlier one, since a printer keeps only the last value
// of each. The enumerator order is the order the settings are listed in.
enum class SettingSlot {
    basic,
    name,
    ethernetAddress,
    wifiAddress,
    wifiCredentials,
    mqttBroker,
    mqttLogin,
    mqttClientId,
    mqttSubscribeSource,
    mqttReceiptPublish,
    mqttQoS,
    mqttHeartbeatTopic,
    mqttReplyTopic,
    mqttHeartbeatInterval,
    mqttKeepAlive,
    mqttClock,
    mqttDnsTest,
    mqttTls, // off, one-way and mutual all replace each other
};

// No slot: the communication test, and segments that are malformed or unknown.
std::optional<SettingSlot> settingSlot(const protocol::DecodedCommand& command);

// Settings a printer has received but applies only at its next restart.
class PendingSettings {
public:
    // False when the command is not a setting (nothing stored).
    bool record(const protocol::DecodedCommand& command);
    // One command per slot, in slot order.
    std::vector<protocol::DecodedCommand> inOrder() const;
    std::size_t size() const { return bySlot_.size(); }

private:
    std::map<SettingSlot, protocol::DecodedCommand> bySlot_;
};

} // namespace printer_sim
