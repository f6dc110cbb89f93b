#include "tools/printer-sim/pending_settings.hpp"

namespace printer_sim {

using protocol::CommandKind;

std::optional<SettingSlot> settingSlot(const protocol::DecodedCommand& command) {
    switch (command.kind) {
    case CommandKind::basicSettings:
        return SettingSlot::basic;
    case CommandKind::printerName:
        return SettingSlot::name;
    case CommandKind::ipConfig:
        // The printer keeps one address configuration per interface.
        return command.text("interface") == "wifi" ? SettingSlot::wifiAddress
                                                   : SettingSlot::ethernetAddress;
    case CommandKind::wifi:
        return SettingSlot::wifiCredentials;
    case CommandKind::brokerAddress:
        return SettingSlot::mqttBroker;
    case CommandKind::login:
        return SettingSlot::mqttLogin;
    case CommandKind::clientId:
        return SettingSlot::mqttClientId;
    case CommandKind::subscribeSource:
        return SettingSlot::mqttSubscribeSource;
    case CommandKind::receiptPublish:
        return SettingSlot::mqttReceiptPublish;
    case CommandKind::publishQoS:
        return SettingSlot::mqttQoS;
    case CommandKind::heartbeatTopic:
        return SettingSlot::mqttHeartbeatTopic;
    case CommandKind::receiptReplyTopic:
        return SettingSlot::mqttReplyTopic;
    case CommandKind::heartbeatInterval:
        return SettingSlot::mqttHeartbeatInterval;
    case CommandKind::keepAlive:
        return SettingSlot::mqttKeepAlive;
    case CommandKind::clock:
        return SettingSlot::mqttClock;
    case CommandKind::dnsTest:
        return SettingSlot::mqttDnsTest;
    case CommandKind::tlsOff:
    case CommandKind::oneWayTLS:
    case CommandKind::mutualTLS:
        return SettingSlot::mqttTls;
    case CommandKind::communicationTest:
    case CommandKind::unknown:
    case CommandKind::malformed:
        return std::nullopt;
    }
    return std::nullopt;
}

bool PendingSettings::record(const protocol::DecodedCommand& command) {
    const auto slot = settingSlot(command);
    if (!slot) {
        return false;
    }
    bySlot_.insert_or_assign(*slot, command);
    return true;
}

std::vector<protocol::DecodedCommand> PendingSettings::inOrder() const {
    std::vector<protocol::DecodedCommand> commands;
    commands.reserve(bySlot_.size());
    for (const auto& [slot, command] : bySlot_) {
        commands.push_back(command);
    }
    return commands;
}

} // namespace printer_sim
