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

TEST(PendingSettings, ALaterCommandReplacesOnlyTheSettingItSets) {
    PendingSettings pending;
    for (const auto& bytes : {
             protocol::makeWiFiCommand("first", "one"),
             protocol::makeIPCommand(false, true, "", "", ""),
             protocol::makeIPCommand(true, true, "", "", ""),
             protocol::makeTLSOffCommand(),
             protocol::makeIPCommand(false, false, "10.0.0.5", "255.0.0.0", "10.0.0.1"),
             protocol::makeWiFiCommand("second", "two"),
             protocol::makeOneWayTLSCommand("cert"),
         }) {
        pending.record(decodedOne(bytes));
    }
    const auto settings = pending.inOrder();
    ASSERT_EQ(settings.size(), 4u);
    EXPECT_EQ(settings[0].text("interface"), "ethernet");
    EXPECT_EQ(settings[0].text("address"), "10.0.0.5");
    EXPECT_EQ(settings[1].text("interface"), "wifi");
    EXPECT_EQ(settings[1].flag("dynamic"), true);
    EXPECT_EQ(settings[2].text("ssid"), "second");
    EXPECT_EQ(settings[3].kind, CommandKind::oneWayTLS);
}

TEST(PendingSettings, ListsInAFixedOrderWhateverTheArrivalOrder) {
    const std::vector<Bytes> commands = {
        protocol::makeTLSOffCommand(),
        protocol::makeWiFiCommand("home", "secret"),
        protocol::makeBasicSettingsCommand(9600, true, true, 1, 0, true),
        protocol::makeBrokerAddressCommand("mqtt.local", 1883),
    };
    const std::vector<CommandKind> expected = {CommandKind::basicSettings, CommandKind::wifi,
                                               CommandKind::brokerAddress, CommandKind::tlsOff};
    for (const bool reversed : {false, true}) {
        PendingSettings pending;
        if (reversed) {
            for (auto it = commands.rbegin(); it != commands.rend(); ++it) {
                pending.record(decodedOne(*it));
            }
        } else {
            for (const auto& bytes : commands) {
                pending.record(decodedOne(bytes));
            }
        }
        std::vector<CommandKind> kinds;
        for (const auto& command : pending.inOrder()) {
            kinds.push_back(command.kind);
        }
        EXPECT_EQ(kinds, expected) << (reversed ? "reversed" : "as listed");
    }
}

} // namespace
