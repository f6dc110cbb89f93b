// printer-sim as a user runs it: the real executable, real sockets on 127.0.0.1 and a real
// pseudo-terminal, its output read through a pipe while it runs; printerctl as one of its peers.
#include "protocol/basic_settings.hpp"
#include "protocol/decoder.hpp"
#include "protocol/frame.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"
#include "tests/sim/sim_process.hpp"
#include "tests/support/command_kinds.hpp"
#include "tools/printerctl/hex_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <random>
#include <regex>
#include <stdexcept>

using namespace sim_testing;
using namespace protocol;
using Args = std::vector<std::string>;

namespace {

// The lines about one peer, in order.
std::vector<std::string> linesOf(const SimProcess& sim, const std::string& peer) {
    std::vector<std::string> found;
    std::ranges::copy_if(sim.lines(), std::back_inserter(found), [&](const std::string& line) {
        return line.find(" " + peer + " ") != std::string::npos;
    });
    return found;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        append(all, part);
    }
    return all;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

TEST(SimCommandLine, BadOptionsAndPortsItCannotHave) {
    const ListeningSocket taken;
    const auto port = std::to_string(taken.port());
    // The arguments, the exit status, how standard error begins.
    const std::vector<std::tuple<Args, int, std::string>> cases = {
        {Args{"--bogus"}, 2, "unknown option"},
        {Args{"--listen"}, 2, "--listen needs a value"},
        {Args{"--listen", "127.0.0.1"}, 2, "--listen wants HOST:PORT"},
        {Args{"--listen", "127.0.0.1:65536"}, 2, "--listen: \"65536\" is not a port"},
        {Args{"--listen", "127.0.0.1:-1"}, 2, "--listen: \"-1\" is not a port"},
        {Args{"--listen", "127.0.0.1:80x"}, 2, "--listen: \"80x\" is not a port"},
        {Args{"--listen", "printer.example:9100"}, 2, "--listen: \"printer.example\" is not an IP"},
        {Args{"--listen", "127.0.0.1:65535", "--printers", "2"}, 2, "2 printers from port 65535"},
        {Args{"--printers", "0"}, 2, "--printers wants a number 1...256"},
        {Args{"--printers", "three"}, 2, "--printers wants a number"},
        {Args{"--printers", "100000"}, 2, "--printers wants a number"},
        {Args{"--json=yes"}, 2, "--json takes no value"},
        // Alone, and as the second port of a fleet: the sim must not start half a fleet.
        {Args{"--listen", "127.0.0.1:" + port}, 1, "cannot listen on 127.0.0.1:" + port + ": "},
        {Args{"--listen", "127.0.0.1:" + std::to_string(taken.port() - 1), "--printers", "2"}, 1,
         "cannot listen on 127.0.0.1:"},
    };
    for (const auto& [arguments, exitCode, message] : cases) {
        const auto result = runProcess(PRINTER_SIM_PATH, arguments);
        EXPECT_EQ(result.exitCode, exitCode) << message;
        EXPECT_TRUE(result.err.starts_with("printer-sim: " + message)) << result.err;
        EXPECT_EQ(result.out, "");
    }
    const auto help = runProcess(PRINTER_SIM_PATH, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const auto* option : {"--listen", "--printers", "--pty", "--json", "--show-secrets",
                               "--dump-state", "SIGUSR1"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
}

// One connection sends a Wi-Fi command and ends; SIGUSR1 then lists what the printer keeps. The
// sim never answers.
TEST(SimOutput, ReadableAndJsonLinesWithAndWithoutSecrets) {
    const std::string fields =
        R"("offset":0,"length":22,"command":"wifi","fields":{"ssid":"home",)";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--listen", "127.0.0.1:0"}, R"(wifi ssid="home" password=(6 bytes))"},
        {{"--listen", "127.0.0.1:0", "--show-secrets"}, R"(wifi ssid="home" password="secret")"},
        {{"--listen", "127.0.0.1:0", "--json"}, fields + R"("passwordLength":6}})"},
        {{"--listen", "127.0.0.1:0", "--show-secrets", "--json"},
         fields + R"("password":"secret"}})"},
    };
    for (const auto& [options, command] : cases) {
        SimProcess sim(options);
        LoopbackClient client(sim.firstPort());
        client.send(makeWiFiCommand("home", "secret").value());
        client.finishSending();
        EXPECT_EQ(client.bytesReceivedUntilClosed(kWaitLimit), std::size_t{0});
        sim.sendSignal(SIGUSR1);
        const auto& p = client.peer();
        const auto expected =
            std::ranges::find(options, "--json") == options.end()
                ? std::vector<std::string>{printerLine(1, p, "connected"),
                                           printerLine(1, p, command),
                                           printerLine(1, p, "disconnected"), pendingHeader(1, 1),
                                           pendingLine(1, command)}
                : std::vector<std::string>{
                      R"({"printer":1,"peer":")" + p + R"(","event":"connected"})",
                      R"({"printer":1,"peer":")" + p + "\"," + command,
                      R"({"printer":1,"peer":")" + p + R"(","event":"disconnected"})",
                      R"({"printer":1,"event":"pending-settings","count":1})",
                      R"({"printer":1,"pending":true,)" + command};
        EXPECT_EQ(sim.waitForLines([](const std::string&) { return true; }, 5), expected);
    }
}

// Frames cut in pieces, each connection's pieces interleaved with the others': any decoding
// state shared between connections would mix them.
TEST(SimConnections, EachConnectionDecodesItsOwnStream) {
    SimProcess sim({"--listen", "127.0.0.1:0"});
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    std::vector<Bytes> streams;
    for (int k = 0; k < 4; ++k) {
        clients.push_back(std::make_unique<LoopbackClient>(sim.firstPort()));
        ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, clients[k]->peer(), "connected"))));
        const auto n = std::to_string(k);
        streams.push_back(joined({makeWiFiCommand("net-" + n, "pass-" + n).value(),
                                  makePrinterNameCommand("till-" + n).value()}));
    }
    // Cut inside the Wi-Fi frame and again inside the name frame; the middle pieces go out in
    // the reverse order.
    const std::size_t cuts[] = {0, 7, streams[0].size() - 4, streams[0].size()};
    for (int piece = 0; piece < 3; ++piece) {
        for (int k = 0; k < 4; ++k) {
            const int c = piece == 1 ? 3 - k : k;
            clients[c]->send(slice(streams[c], cuts[piece], cuts[piece + 1]));
        }
    }
    for (int k = 0; k < 4; ++k) {
        clients[k]->finishSending();
        const auto& peer = clients[k]->peer();
        ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, peer, "disconnected"))));
        const auto n = std::to_string(k);
        EXPECT_EQ(linesOf(sim, peer),
                  (std::vector<std::string>{
                      printerLine(1, peer, "connected"),
                      printerLine(1, peer, "wifi ssid=\"net-" + n + "\" password=(6 bytes)"),
                      printerLine(1, peer, "name name=\"till-" + n + "\""),
                      printerLine(1, peer, "disconnected")}));
    }
}

// Noise, frames cut off by the end of a stream or by a reset, a reset before the sim has even
// taken the connection on: each is reported, every line names its peer, and the sim carries on
// and stops cleanly. (Frames in pieces: EachConnectionDecodesItsOwnStream.)
TEST(SimConnections, NoiseCutOffStreamsAndResetsNeitherStopNorStallIt) {
    SimProcess sim({"--listen", "127.0.0.1:0"});
    const auto wifi = makeWiFiCommand("home", "secret").value();
    std::mt19937 random(1);
    Bytes noise(256 * 1024);
    std::ranges::generate(noise, [&] { return static_cast<std::uint8_t>(random()); });
    LoopbackClient noisy(sim.firstPort()), noiseThenReset(sim.firstPort()), cutOff(sim.firstPort()),
        cutOffThenReset(sim.firstPort());
    noisy.send(noise);
    noisy.finishSending();
    noiseThenReset.send(slice(noise, 0, 4096));
    noiseThenReset.reset();
    cutOff.send(slice(wifi, 0, 10));
    cutOff.finishSending();
    // The command shows that the sim has read the cut-off frame sent with it before the reset.
    cutOffThenReset.send(joined({testPrintCommand(), slice(wifi, 0, 10)}));
    ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, cutOffThenReset.peer(), "test"))));
    cutOffThenReset.reset();
    LoopbackClient silentReset(sim.firstPort());
    silentReset.reset();
    for (const auto* client : {&noisy, &noiseThenReset, &cutOff, &cutOffThenReset, &silentReset}) {
        EXPECT_TRUE(sim.waitForLine(exactly(printerLine(1, client->peer(), "disconnected"))))
            << client->peer();
    }
    const std::regex namedPeer("printer 1 \u00B7 127\\.0\\.0\\.1:[1-9][0-9]* \u00B7 .+");
    for (const auto& text : sim.lines()) {
        EXPECT_TRUE(std::regex_match(text, namedPeer)) << text.substr(0, 120);
    }
    for (const auto* client : {&cutOff, &cutOffThenReset}) {
        const auto lines = linesOf(sim, client->peer());
        ASSERT_GE(lines.size(), 3u) << client->peer();
        EXPECT_TRUE(
            lines[lines.size() - 2].starts_with(printerLine(1, client->peer(), "malformed (")))
            << lines[lines.size() - 2];
    }
    LoopbackClient later(sim.firstPort());
    later.send(makePrinterNameCommand("still here").value());
    EXPECT_TRUE(
        sim.waitForLine(exactly(printerLine(1, later.peer(), R"(name name="still here")"))));
    // SIGTERM ends the open connection; without --dump-state nothing follows. What reached the
    // printer before is decoded first, even when it was stopped before it could read it.
    sim.sendSignal(SIGSTOP);
    later.send(makePrinterNameCommand("last words").value());
    sim.sendSignal(SIGTERM);
    sim.sendSignal(SIGCONT);
    EXPECT_EQ(sim.waitForExit(), 0) << sim.errorOutput();
    EXPECT_EQ(sim.errorOutput(), "");
    ASSERT_GE(sim.lines().size(), 2u);
    EXPECT_EQ(sim.lines()[sim.lines().size() - 2],
              printerLine(1, later.peer(), R"(name name="last words")"));
    EXPECT_EQ(sim.lines().back(), printerLine(1, later.peer(), "disconnected"));
}

// Printers on consecutive ports keep the settings each was sent (a second connection to the
// same printer adds to its store) until SIGUSR1 lists them. SIGINT ends the open connections,
// reporting a frame one of them cut off, and with --dump-state the settings are listed again.
TEST(SimFleet, PrintersOnConsecutivePortsKeepTheirOwnPendingSettings) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--printers", "3", "--dump-state"});
    EXPECT_EQ(sim.listeningLine(),
              "printer-sim listening on 127.0.0.1:" + std::to_string(sim.firstPort()) + "-" +
                  std::to_string(sim.firstPort() + 2) + " (3 printers)");
    LoopbackClient first(sim.firstPort());
    first.send(
        joined({makeWiFiCommand("first", "aaaaaaaa").value(),
                makeBasicSettingsCommand(115200, true, true, 1, 0xFF, true), testPrintCommand()}));
    ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, first.peer(), "test"))));
    LoopbackClient again(sim.firstPort());
    again.send(makeWiFiCommand("second", "bbbbbb").value());
    ASSERT_TRUE(sim.waitForLine(containing({again.peer(), R"(ssid="second")"})));
    LoopbackClient second(sim.firstPort() + 1);
    second.send(joined({makeIPCommand(false, true, "", "", "").value(),
                        makePrinterNameCommand("till-2").value()}));
    ASSERT_TRUE(sim.waitForLine(exactly(printerLine(2, second.peer(), R"(name name="till-2")"))));
    // The command shows that the sim has read the cut-off frame sent with it.
    LoopbackClient third(sim.firstPort() + 2);
    third.send(joined({testPrintCommand(), slice(makePrinterNameCommand("till-3").value(), 0, 6)}));
    ASSERT_TRUE(sim.waitForLine(exactly(printerLine(3, third.peer(), "test"))));

    const std::vector<std::string> dump = {
        pendingHeader(1, 2),
        pendingLine(1, R"(basic baud=115200 cutter=on beeper=on density=medium codepage=0xFF )"
                       R"("Simplified Chinese" font=12x24)"),
        pendingLine(1, R"(wifi ssid="second" password=(6 bytes))"),
        pendingHeader(2, 2),
        pendingLine(2, R"(name name="till-2")"),
        pendingLine(2, "ip interface=ethernet mode=dhcp"),
        pendingHeader(3, 0),
    };
    const auto isDump = containing({" \u00B7 pending"});
    sim.sendSignal(SIGUSR1);
    EXPECT_EQ(sim.waitForLines(isDump, 7), dump);
    sim.sendSignal(SIGINT);
    EXPECT_EQ(sim.waitForExit(), 0) << sim.errorOutput();
    EXPECT_EQ(sim.errorOutput(), "");
    auto twice = dump;
    twice.insert(twice.end(), dump.begin(), dump.end());
    EXPECT_EQ(sim.waitForLines(isDump, 14), twice);
    const auto thirdLines = linesOf(sim, third.peer());
    ASSERT_EQ(thirdLines.size(), 4u);
    EXPECT_TRUE(thirdLines[2].starts_with(printerLine(3, third.peer(), "malformed (")))
        << thirdLines[2];
    const auto& all = sim.lines();
    EXPECT_LT(std::find(all.begin(), all.end(), thirdLines[3]),
              std::find(all.rbegin(), all.rend(), pendingHeader(1, 2)).base() - 1);
}

// printerctl sends every kind of command over the serial line of a sim that also listens on TCP
// (the serial printer is the second); each arrives and decodes as exactly what --dry-run prints.
// As each is sent once, SIGUSR1 then lists every setting the printer keeps, each in its own slot.
TEST(PrinterctlToSim, EveryCommandKindOverTheSerialLine) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--pty"});
    const std::string serialLine = "printer-sim serial line ";
    const auto announced = sim.waitForLine(containing({serialLine}));
    ASSERT_TRUE(announced) << sim.errorOutput();
    const auto path = announced->substr(serialLine.size());
    std::vector<std::string> dump = {pendingHeader(1, 0)};
    for (const auto& command : everyCommandKind()) {
        auto arguments = command;
        arguments.insert(arguments.begin(), "--dry-run");
        const auto bytes = printerctl::parseHexText(runProcess(PRINTERCTL_PATH, arguments).out);
        arguments[0] = path;
        arguments.insert(arguments.begin(), "--serial");
        const auto result = runProcess(PRINTERCTL_PATH, arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto decoded = decode(bytes.bytes);
        ASSERT_FALSE(decoded.empty());
        for (const auto& expected : decoded) {
            const auto text = renderLine(expected);
            EXPECT_TRUE(sim.waitForLine(exactly(printerLine(2, "serial", text)))) << text;
            if (text != "test") {
                dump.push_back(pendingLine(2, text));
            }
        }
    }
    dump.insert(dump.begin() + 1, pendingHeader(2, dump.size() - 1));
    sim.sendSignal(SIGUSR1);
    EXPECT_EQ(sim.waitForLines(containing({" \u00B7 pending"}), dump.size()), dump);
    for (const auto& text : sim.lines()) {
        EXPECT_EQ(text.find("malformed"), std::string::npos) << text;
        EXPECT_EQ(text.find("unknown"), std::string::npos) << text;
    }
    const auto refused = runProcess(PRINTERCTL_PATH, {"--serial", path + "-missing", "test"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.starts_with("Cannot open USB serial:\nNo such file or directory"))
        << refused.err;
}

} // namespace
