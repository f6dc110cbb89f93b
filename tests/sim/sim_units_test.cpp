// The sim's parts that need no running process: the settings a printer keeps, and its options.
#include "tools/printer-sim/pending_settings.hpp"
#include "tools/printer-sim/sim_options.hpp"

#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"

#include <gtest/gtest.h>

using namespace protocol;
using namespace printer_sim;

namespace {

// Which slot each setting takes, and the order of the list, show in the sim's dumps (tests/sim);
// here what one run there cannot show: the three TLS commands share one slot, and what is no
// setting is not kept.
TEST(PendingSettings, TlsCommandsShareASlotAndWhatIsNoSettingIsNotKept) {
    const std::vector<std::pair<Bytes, std::optional<SettingSlot>>> cases = {
        {makeTLSOffCommand(), SettingSlot::mqttTls},
        {makeOneWayTLSCommand("-----BEGIN CERTIFICATE-----").value(), SettingSlot::mqttTls},
        {makeMutualTLSCommand({1}, {2}, {3}, "pw").value(), SettingSlot::mqttTls},
        {testPrintCommand(), std::nullopt},
        {{0xAB}, std::nullopt},
        {{0x1F, 0x28, 0x0F, 0x03, 0x00, 0x1F, 0x4E, 0x00}, std::nullopt},
    };
    for (const auto& [bytes, slot] : cases) {
        const auto command = decode(bytes).at(0);
        PendingSettings pending;
        EXPECT_EQ(settingSlot(command), slot) << renderLine(command);
        EXPECT_EQ(pending.record(command), slot.has_value()) << renderLine(command);
        EXPECT_EQ(pending.size(), slot ? 1u : 0u);
    }
}

TEST(SimOptions, ListenAddressForms) {
    const std::vector<std::tuple<std::vector<std::string>, std::string, int>> cases = {
        {{"--listen", "127.0.0.1:0"}, "127.0.0.1", 0},
        {{"--listen=127.0.0.2:9200"}, "127.0.0.2", 9200},
        {{"--listen", "localhost:65535"}, "127.0.0.1", 65535},
        {{"--listen", "[::1]:9100"}, "::1", 9100},
        // The last one given wins, as with most tools.
        {{"--listen", "127.0.0.1:1", "--listen", "127.0.0.1:2"}, "127.0.0.1", 2},
        {{"--listen", "127.0.0.1:65280", "--printers", "256"}, "127.0.0.1", 65280},
        // Without --listen: the address the help names.
        {{}, "127.0.0.1", 9100},
    };
    for (const auto& [arguments, host, port] : cases) {
        const auto parsed = parseOptions(arguments);
        ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed))
            << std::get<OptionError>(parsed).message;
        EXPECT_EQ(std::get<SimOptions>(parsed).host, host);
        EXPECT_EQ(std::get<SimOptions>(parsed).port, port);
    }
    EXPECT_NE(usageText().find("(default 127.0.0.1:9100;"), std::string::npos);
}

} // namespace
