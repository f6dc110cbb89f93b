// Several peers at once, and peers that misbehave: split frames, noise, cut-off streams, resets.
#include "protocol/frame.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"
#include "tests/sim/byte_streams.hpp"
#include "tests/sim/sim_process.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <regex>

using namespace sim_testing;
using protocol::Bytes;

namespace {

const std::vector<std::string> kAnyPort = {"--listen", "127.0.0.1:0"};

using Clients = std::vector<std::unique_ptr<LoopbackClient>>;

Clients connectClients(SimProcess& sim, std::size_t count) {
    Clients clients;
    for (std::size_t k = 0; k < count; ++k) {
        clients.push_back(std::make_unique<LoopbackClient>(sim.firstPort()));
    }
    for (const auto& client : clients) {
        EXPECT_TRUE(sim.waitForLine(exactly(printerLine(1, client->peer(), "connected"))))
            << client->peer();
    }
    return clients;
}

std::vector<std::string> linesOf(const SimProcess& sim, const std::string& peer) {
    std::vector<std::string> lines;
    for (const auto& line : sim.lines()) {
        if (line.find(" " + peer + " ") != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(SimConnections, FramesSplitAcrossInterleavedConnectionsDecodePerConnection) {
    SimProcess sim(kAnyPort);
    constexpr std::size_t kCount = 4;
    auto clients = connectClients(sim, kCount);
    std::vector<Bytes> streams;
    for (std::size_t k = 0; k < kCount; ++k) {
        const auto n = std::to_string(k);
        streams.push_back(joined({protocol::makeWiFiCommand("net-" + n, "pass-" + n),
                                  protocol::makePrinterNameCommand("till-" + n)}));
    }
    // Cut inside the Wi-Fi frame and again inside the name frame; each connection's pieces
    // are interleaved with the others' so that any shared decoding state would mix them.
    const std::size_t cuts[] = {7, streams[0].size() - 4};
    for (std::size_t k = 0; k < kCount; ++k) {
        clients[k]->send(slice(streams[k], 0, cuts[0]));
    }
    for (std::size_t k = kCount; k-- > 0;) {
        clients[k]->send(slice(streams[k], cuts[0], cuts[1]));
    }
    for (std::size_t k = 0; k < kCount; ++k) {
        clients[k]->send(slice(streams[k], cuts[1], streams[k].size()));
        clients[k]->finishSending();
    }
    for (std::size_t k = 0; k < kCount; ++k) {
        const auto& peer = clients[k]->peer();
        ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, peer, "disconnected"))));
        const auto n = std::to_string(k);
        const std::vector<std::string> expected = {
            printerLine(1, peer, "connected"),
            printerLine(1, peer, "wifi ssid=\"net-" + n + "\" password=(6 bytes)"),
            printerLine(1, peer, "name name=\"till-" + n + "\""),
            printerLine(1, peer, "disconnected"),
        };
        EXPECT_EQ(linesOf(sim, peer), expected);
    }
}

TEST(SimConnections, NoiseCutOffStreamsAndResetsNeitherStopNorStallIt) {
    SimProcess sim(kAnyPort);
    const auto wifi = protocol::makeWiFiCommand("home", "secret");
    const auto cutWifi = slice(wifi, 0, 10);

    LoopbackClient noise(sim.firstPort());
    noise.send(randomBytes(256 * 1024, 1));
    noise.finishSending();

    LoopbackClient noiseThenReset(sim.firstPort());
    noiseThenReset.send(randomBytes(4096, 2));
    const auto noiseThenResetPeer = noiseThenReset.peer();
    noiseThenReset.reset();

    LoopbackClient cutOff(sim.firstPort());
    cutOff.send(cutWifi);
    cutOff.finishSending();

    // The command proves the sim has read this segment, cut-off frame included, before the RST.
    LoopbackClient cutOffThenReset(sim.firstPort());
    cutOffThenReset.send(joined({protocol::testPrintCommand(), cutWifi}));
    const auto cutOffThenResetPeer = cutOffThenReset.peer();
    ASSERT_TRUE(sim.waitForLine(exactly(printerLine(1, cutOffThenResetPeer, "test"))));
    cutOffThenReset.reset();

    LoopbackClient byteByByte(sim.firstPort());
    for (const auto byte : wifi) {
        byteByByte.send({byte});
    }
    byteByByte.finishSending();

    LoopbackClient silentReset(sim.firstPort());
    const auto silentResetPeer = silentReset.peer();
    silentReset.reset();

    for (const auto& peer : {noise.peer(), noiseThenResetPeer, cutOff.peer(), cutOffThenResetPeer,
                             byteByByte.peer(), silentResetPeer}) {
        EXPECT_TRUE(sim.waitForLine(exactly(printerLine(1, peer, "disconnected")))) << peer;
    }
    // A peer that resets before the sim has taken the connection on still has its address.
    const std::regex namedPeer("printer 1 \u00B7 127\\.0\\.0\\.1:[1-9][0-9]* \u00B7 .+");
    for (const auto& line : sim.lines()) {
        EXPECT_TRUE(std::regex_match(line, namedPeer)) << line.substr(0, 120);
    }
    for (const auto& peer : {cutOff.peer(), cutOffThenResetPeer}) {
        const auto lines = linesOf(sim, peer);
        ASSERT_GE(lines.size(), 3u) << peer;
        EXPECT_TRUE(lines[lines.size() - 2].starts_with(printerLine(1, peer, "malformed (")))
            << lines[lines.size() - 2];
    }
    EXPECT_EQ(linesOf(sim, byteByByte.peer()),
              (std::vector<std::string>{
                  printerLine(1, byteByByte.peer(), "connected"),
                  printerLine(1, byteByByte.peer(), R"(wifi ssid="home" password=(6 bytes))"),
                  printerLine(1, byteByByte.peer(), "disconnected")}));

    LoopbackClient later(sim.firstPort());
    later.send(protocol::makePrinterNameCommand("still here"));
    EXPECT_TRUE(
        sim.waitForLine(exactly(printerLine(1, later.peer(), R"(name name="still here")"))));

    sim.sendSignal(SIGTERM);
    EXPECT_EQ(sim.waitForExit(), 0) << sim.errorOutput();
    EXPECT_EQ(sim.errorOutput(), "");
}

} // namespace
