// printerctl --tcp against the virtual printer: every kind of command arrives and decodes as
// exactly what --dry-run says, and a fleet of printers keeps one state each.
#include "protocol/decoder.hpp"
#include "sim_process.hpp"
#include "tests/support/command_kinds.hpp"
#include "tools/printerctl/hex_input.hpp"

#include <gtest/gtest.h>

#include <csignal>

using namespace sim_testing;

namespace {

std::vector<std::string> printerctlArgs(std::uint16_t port, std::vector<std::string> command) {
    command.insert(command.begin(), {std::string("--tcp"), "127.0.0.1:" + std::to_string(port)});
    return command;
}

// What the sim should print for a command: the readable lines of its dry-run bytes.
std::vector<std::string> expectedLines(const std::vector<std::string>& command) {
    auto dry = command;
    dry.insert(dry.begin(), "--dry-run");
    const auto bytes = printerctl::parseHexText(runProcess(PRINTERCTL_PATH, dry).out).bytes;
    std::vector<std::string> lines;
    for (const auto& decoded : protocol::decode(bytes)) {
        lines.push_back(protocol::renderLine(decoded));
    }
    return lines;
}

TEST(PrinterctlToSim, EveryCommandKindDecodes) {
    SimProcess sim({"--listen", "127.0.0.1:0"});
    const auto& commands = everyCommandKind();
    for (std::size_t k = 0; k < commands.size(); ++k) {
        const auto& command = commands[k];
        const auto expected = expectedLines(command);
        ASSERT_FALSE(expected.empty());
        const auto result = runProcess(PRINTERCTL_PATH, printerctlArgs(sim.firstPort(), command));
        ASSERT_EQ(result.exitCode, 0) << result.err;
        // This run's connection is the (k+1)-th; its peer address names its lines.
        const auto connected = sim.waitForLines(containing({"\u00B7 connected"}), k + 1);
        ASSERT_EQ(connected.size(), k + 1) << command[0];
        const auto peer = connected.back().substr(0, connected.back().rfind(" \u00B7 "));
        for (const auto& line : expected) {
            EXPECT_TRUE(sim.waitForLine(exactly(peer + " \u00B7 " + line))) << line;
        }
        EXPECT_TRUE(sim.waitForLine(exactly(peer + " \u00B7 disconnected"))) << command[0];
    }
    for (const auto& line : sim.lines()) {
        EXPECT_EQ(line.find("malformed"), std::string::npos) << line;
        EXPECT_EQ(line.find("unknown"), std::string::npos) << line;
    }
}

// The same commands over a serial line: printerctl --serial into the sim's pseudo-terminal.
TEST(PrinterctlToSim, SerialLineCarriesEveryCommandKind) {
    ChildProcess sim(PRINTER_SIM_PATH, {"--pty"});
    const std::string first = sim.takeFirstLine();
    const std::string prefix = "printer-sim serial line ";
    ASSERT_TRUE(first.starts_with(prefix)) << first << sim.errorOutput();
    const std::string path = first.substr(prefix.size());
    for (const auto& command : everyCommandKind()) {
        auto arguments = command;
        arguments.insert(arguments.begin(), {"--serial", path});
        const auto result = runProcess(PRINTERCTL_PATH, arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        for (const auto& line : expectedLines(command)) {
            EXPECT_TRUE(sim.waitForLine(exactly(printerLine(1, "serial", line)))) << line;
        }
    }
    const auto refused = runProcess(PRINTERCTL_PATH, {"--serial", path + "-missing", "test"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.starts_with("Cannot open USB serial:\nNo such file or directory"))
        << refused.err;
}

} // namespace
