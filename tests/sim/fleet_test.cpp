// Several printers in one process, and the settings each keeps until its next restart.
#include "protocol/basic_settings.hpp"
#include "protocol/frame.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"
#include "tests/sim/byte_streams.hpp"
#include "tests/sim/sim_process.hpp"

#include <gtest/gtest.h>

#include <csignal>

using namespace sim_testing;

namespace {

const std::string kHeader = "pending settings (applied at the next restart): ";

std::string header(int printer, std::size_t count) {
    return "printer " + std::to_string(printer) + " \u00B7 " + kHeader + std::to_string(count);
}
std::string pendingLine(int printer, const std::string& text) {
    return "printer " + std::to_string(printer) + " \u00B7 pending \u00B7 " + text;
}

std::vector<std::string> pendingLines(const SimProcess& sim) {
    std::vector<std::string> lines;
    for (const auto& line : sim.lines()) {
        if (line.find(" \u00B7 pending") != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(SimFleet, PrintersOnConsecutivePortsKeepTheirOwnPendingSettings) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--printers", "3", "--dump-state"});
    ASSERT_EQ(sim.lastPort(), sim.firstPort() + 2);
    EXPECT_EQ(sim.listeningLine(),
              "printer-sim listening on 127.0.0.1:" + std::to_string(sim.firstPort()) + "-" +
                  std::to_string(sim.lastPort()) + " (3 printers)");

    LoopbackClient first(sim.firstPort());
    first.send(joined({protocol::makeWiFiCommand("first", "aaaaaaaa"),
                       protocol::makeBasicSettingsCommand(115200, true, true, 1, 0xFF, true),
                       protocol::testPrintCommand()}));
    ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, first.peer(), "test"))));
    // A second connection to the same printer: its settings land in the same store.
    LoopbackClient again(sim.firstPort());
    again.send(protocol::makeWiFiCommand("second", "bbbbbb"));
    ASSERT_TRUE(sim.waitForLine(containing({again.peer(), R"(ssid="second")"})));

    LoopbackClient secondPrinter(sim.firstPort() + 1);
    secondPrinter.send(joined({protocol::makeIPCommand(false, true, "", "", ""),
                               protocol::makePrinterNameCommand("till-2")}));
    ASSERT_TRUE(
        sim.waitForLine(exactly(printerLine(2, secondPrinter.peer(), R"(name name="till-2")"))));

    LoopbackClient thirdPrinter(sim.lastPort());
    ASSERT_TRUE(sim.waitForLine(exactly(printerLine(3, thirdPrinter.peer(), "connected"))));

    sim.sendSignal(SIGUSR1);
    ASSERT_TRUE(sim.waitForLine(exactly(header(3, 0))));
    const std::vector<std::string> expected = {
        header(1, 2),
        pendingLine(1, R"(basic baud=115200 cutter=on beeper=on density=medium codepage=0xFF )"
                       R"("Simplified Chinese" font=12x24)"),
        pendingLine(1, R"(wifi ssid="second" password=(6 bytes))"),
        header(2, 2),
        pendingLine(2, R"(name name="till-2")"),
        pendingLine(2, "ip interface=ethernet mode=dhcp"),
        header(3, 0),
    };
    EXPECT_EQ(pendingLines(sim), expected);

    // --dump-state: the same again on the way out, after the open connections were ended.
    sim.sendSignal(SIGTERM);
    EXPECT_EQ(sim.waitForExit(), 0) << sim.errorOutput();
    EXPECT_EQ(sim.errorOutput(), "");
    auto twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());
    EXPECT_EQ(pendingLines(sim), twice);
    const auto& all = sim.lines();
    const auto lastDisconnect =
        std::find(all.begin(), all.end(), printerLine(3, thirdPrinter.peer(), "disconnected"));
    const auto exitDump = std::find(all.rbegin(), all.rend(), header(1, 2)).base() - 1;
    EXPECT_LT(lastDisconnect, exitDump) << "connections end before the state is printed";
}

TEST(SimFleet, JsonDumpHasAHeaderObjectAndOneObjectPerSetting) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--printers", "2", "--json"});
    LoopbackClient client(sim.firstPort());
    client.send(protocol::makeWiFiCommand("home", "secret"));
    ASSERT_TRUE(sim.waitForLine(containing({client.peer(), R"("command":"wifi")"})));

    sim.sendSignal(SIGUSR1);
    ASSERT_TRUE(sim.waitForLine(exactly(R"({"printer":2,"event":"pending-settings","count":0})")));
    const auto dump = sim.waitForLines(
        [](const std::string& line) { return line.find(R"("pending)") != std::string::npos; }, 3);
    ASSERT_EQ(dump.size(), 3u);
    EXPECT_EQ(dump[0], R"({"printer":1,"event":"pending-settings","count":1})");
    EXPECT_EQ(dump[1], R"({"printer":1,"pending":true,"offset":0,"length":22,"command":"wifi",)"
                       R"("fields":{"ssid":"home","passwordLength":6}})");
}

TEST(SimFleet, StateIsPrintedAtExitOnlyWithDumpState) {
    struct Case {
        std::vector<std::string> options;
        std::size_t headersAfterExit;
    };
    for (const auto& c : {Case{{}, 1}, Case{{"--dump-state"}, 2}}) {
        auto arguments = c.options;
        arguments.insert(arguments.begin(), {"--listen", "127.0.0.1:0"});
        SimProcess sim(arguments);
        LoopbackClient client(sim.firstPort());
        client.send(protocol::makePrinterNameCommand("till"));
        ASSERT_TRUE(sim.waitForLine(containing({client.peer(), "name"})));
        sim.sendSignal(SIGUSR1);
        ASSERT_TRUE(sim.waitForLine(exactly(header(1, 1))));
        sim.sendSignal(SIGTERM);
        EXPECT_EQ(sim.waitForExit(), 0) << sim.errorOutput();
        EXPECT_EQ(sim.errorOutput(), "");
        const auto headers = std::count(sim.lines().begin(), sim.lines().end(), header(1, 1));
        EXPECT_EQ(static_cast<std::size_t>(headers), c.headersAfterExit)
            << (c.options.empty() ? "without" : "with") << " --dump-state";
    }
}

TEST(SimFleet, StoppingEndsOpenConnectionsAndReportsTheirCutOffFrames) {
    for (const int stopSignal : {SIGTERM, SIGINT}) {
        SimProcess sim({"--listen", "127.0.0.1:0"});
        LoopbackClient client(sim.firstPort());
        const auto name = protocol::makePrinterNameCommand("till");
        client.send(joined({protocol::testPrintCommand(), slice(name, 0, 6)}));
        ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, client.peer(), "test"))));
        sim.sendSignal(stopSignal);
        EXPECT_EQ(sim.waitForExit(), 0) << "signal " << stopSignal << ": " << sim.errorOutput();
        EXPECT_EQ(sim.errorOutput(), "");
        const auto& lines = sim.lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_TRUE(lines[2].starts_with(printerLine(1, client.peer(), "malformed ("))) << lines[2];
        EXPECT_EQ(lines[3], printerLine(1, client.peer(), "disconnected"));
    }
}

} // namespace
