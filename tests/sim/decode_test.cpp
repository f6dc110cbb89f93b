// What printer-sim prints for the commands one connection sends, readable and as JSON.
#include "protocol/basic_settings.hpp"
#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"
#include "tests/sim/byte_streams.hpp"
#include "tests/sim/sim_process.hpp"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

using namespace sim_testing;
using protocol::Bytes;

namespace {

std::vector<std::string> anyPortAnd(std::vector<std::string> more) {
    more.insert(more.begin(), {"--listen", "127.0.0.1:0"});
    return more;
}

QJsonObject jsonObject(const std::string& line) {
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(document.isObject()) << line;
    return document.object();
}

// Sends `bytes`, ends the stream and returns every line the sim printed about this connection,
// "connected" to "disconnected". Fails the test if the sim wrote anything back.
std::vector<std::string> sendAndClose(SimProcess& sim, LoopbackClient& client, const Bytes& bytes) {
    client.send(bytes);
    client.finishSending();
    EXPECT_EQ(client.bytesReceivedUntilClosed(kWaitLimit), std::size_t{0})
        << "the printer answered, or never closed the connection";
    EXPECT_TRUE(sim.waitForLine(containing({client.peer(), "disconnected"})));
    std::vector<std::string> lines;
    for (const auto& line : sim.lines()) {
        if (line.find(client.peer()) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(SimDecoding, ReportsBytesAroundCommandsAsUnknownAndACutOffFrameAsMalformed) {
    SimProcess sim(anyPortAnd({}));
    LoopbackClient client(sim.firstPort());
    const auto name = protocol::makePrinterNameCommand("till-1");
    const auto lines =
        sendAndClose(sim, client, joined({{0xAB, 0xCD}, name, slice(name, 0, name.size() - 3)}));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1],
              printerLine(1, client.peer(), "unknown (unrecognised bytes) 2 bytes: AB CD"));
    EXPECT_EQ(lines[2], printerLine(1, client.peer(), R"(name name="till-1")"));
    // The cut-off frame only shows once the stream has ended.
    EXPECT_TRUE(containing({printerLine(1, client.peer(), "malformed (")})(lines[3])) << lines[3];
    EXPECT_EQ(lines[4], printerLine(1, client.peer(), "disconnected"));
}

TEST(SimDecoding, JsonPutsPrinterAndPeerFirstAndHidesPasswords) {
    SimProcess sim(anyPortAnd({"--json"}));
    LoopbackClient client(sim.firstPort());
    const auto peer = client.peer();
    const auto lines = sendAndClose(sim, client, protocol::makeWiFiCommand("home", "secret"));
    ASSERT_EQ(lines.size(), 3u);

    EXPECT_EQ(lines[0], R"({"printer":1,"peer":")" + peer + R"(","event":"connected"})");
    EXPECT_EQ(lines[2], R"({"printer":1,"peer":")" + peer + R"(","event":"disconnected"})");

    EXPECT_TRUE(lines[1].starts_with(R"({"printer":1,"peer":")" + peer + R"(","offset":0,)"))
        << lines[1];
    const auto wifi = jsonObject(lines[1]);
    EXPECT_EQ(wifi["printer"].toInt(), 1);
    EXPECT_EQ(wifi["peer"].toString().toStdString(), peer);
    EXPECT_EQ(wifi["command"].toString(), "wifi");
    EXPECT_EQ(wifi["length"].toInt(), 22);
    const auto fields = wifi["fields"].toObject();
    EXPECT_EQ(fields["ssid"].toString(), "home");
    EXPECT_EQ(fields["passwordLength"].toInt(), 6);
    EXPECT_FALSE(fields.contains("password"));
}

TEST(SimDecoding, ShowSecretsRevealsPasswordsInBothForms) {
    struct Case {
        std::vector<std::string> options;
        std::string expectedPart;
    };
    const std::vector<Case> cases = {
        {{"--show-secrets"}, R"(wifi ssid="home" password="secret")"},
        {{"--show-secrets", "--json"}, R"("fields":{"ssid":"home","password":"secret"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.back());
        SimProcess sim(anyPortAnd(c.options));
        LoopbackClient client(sim.firstPort());
        const auto lines = sendAndClose(sim, client, protocol::makeWiFiCommand("home", "secret"));
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_NE(lines[1].find(c.expectedPart), std::string::npos) << lines[1];
    }
}

} // namespace
