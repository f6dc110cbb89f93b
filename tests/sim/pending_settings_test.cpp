#include "tools/printer-sim/pending_settings.hpp"

#include "protocol/basic_settings.hpp"
#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"

#include <gtest/gtest.h>

using printer_sim::PendingSettings;
using printer_sim::SettingSlot;
using protocol::Bytes;
using protocol::CommandKind;
using protocol::DecodedCommand;

namespace {

DecodedCommand decodedOne(const Bytes& bytes) {
    const auto commands = protocol::decode(bytes);
    EXPECT_EQ(commands.size(), 1u);
    return commands.at(0);
}

TEST(PendingSettings, EachSettingHasItsOwnSlotAndOthersAreNotStored) {
    using protocol::mqtt::heartbeatTopic;
    using protocol::mqtt::receiptReplyTopic;
    struct Case {
        const char* what;
        Bytes bytes;
        std::optional<SettingSlot> slot;
    };
    const std::vector<Case> cases = {
        {"basic", protocol::makeBasicSettingsCommand(9600, true, true, 1, 0, true),
         SettingSlot::basic},
        {"name", protocol::makePrinterNameCommand("till"), SettingSlot::name},
        {"ethernet ip", protocol::makeIPCommand(false, true, "", "", ""),
         SettingSlot::ethernetAddress},
        {"wifi ip",
         protocol::makeIPCommand(true, false, "192.168.1.20", "255.255.255.0", "192.168.1.1"),
         SettingSlot::wifiAddress},
        {"wifi", protocol::makeWiFiCommand("home", "secret"), SettingSlot::wifiCredentials},
        {"broker", protocol::makeBrokerAddressCommand("mqtt.local", 1883), SettingSlot::mqttBroker},
        {"login", protocol::makeLoginCommand("user", "pw").value(), SettingSlot::mqttLogin},
        {"client id", protocol::makeClientIdCommand("till-1"), SettingSlot::mqttClientId},
        {"subscribe source", protocol::makeSubscribeSourceCommand(1),
         SettingSlot::mqttSubscribeSource},
        {"publish receipts", protocol::makeReceiptPublishCommand(true),
         SettingSlot::mqttReceiptPublish},
        {"qos", protocol::makePublishQoSCommand(2), SettingSlot::mqttQoS},
        {"heartbeat topic", protocol::makeTopicCommand(heartbeatTopic, "hb"),
         SettingSlot::mqttHeartbeatTopic},
        {"reply topic", protocol::makeTopicCommand(receiptReplyTopic, "ok"),
         SettingSlot::mqttReplyTopic},
        {"heartbeat", protocol::makeHeartbeatIntervalCommand(30),
         SettingSlot::mqttHeartbeatInterval},
        {"keepalive", protocol::makeKeepAliveCommand(60), SettingSlot::mqttKeepAlive},
        {"clock", protocol::makeClockCommand("pool.ntp.org", 32), SettingSlot::mqttClock},
        {"dns test", protocol::makeDNSTestCommand("http://example.com"), SettingSlot::mqttDnsTest},
        {"tls off", protocol::makeTLSOffCommand(), SettingSlot::mqttTls},
        {"tls one-way", protocol::makeOneWayTLSCommand("-----BEGIN CERTIFICATE-----"),
         SettingSlot::mqttTls},
        {"tls mutual", protocol::makeMutualTLSCommand({1}, {2}, {3}, "pw"), SettingSlot::mqttTls},
        {"communication test", protocol::testPrintCommand(), std::nullopt},
        {"unknown", {0xAB}, std::nullopt},
        {"malformed", {0x1F, 0x28, 0x0F, 0x03, 0x00, 0x1F, 0x4E, 0x00}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto command = decodedOne(c.bytes);
        EXPECT_EQ(printer_sim::settingSlot(command), c.slot);
        PendingSettings pending;
        EXPECT_EQ(pending.record(command), c.slot.has_value());
        EXPECT_EQ(pending.size(), c.slot ? 1u : 0u);
    }
}

} // namespace
