// Every command builder against the bytes it must produce and the line they decode to, and input
// the builders never produce (cut off, unknown, breaking a command's own rules) against what the
// decoder must make of it. A stream fed in pieces must decode like the whole.
#include "protocol/basic_settings.hpp"
#include "protocol/decoder.hpp"
#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"
#include "tests/support/hex.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <ranges>
#include <set>

using namespace protocol;
using testing_support::hex;

namespace {

// A builder's bytes; what it must produce, in hex (empty: not spelled out); the line they decode
// to, secrets shown. Each builder's layout is pinned by the bytes of at least one row; in the
// others the decoder's own checks and the line stand for them.
using Built = std::tuple<Bytes, std::string, std::string>;

const std::string kCjk = "\xE4\xB8\xAD\xE6\x96\x87"; // two three-byte characters

std::string q(const std::string& text) {
    return "\"" + text + "\"";
}

const std::vector<Built>& builtRows() {
    static const std::string s124(124, 's'), p124(124, 'p'), n251(251, 'n'), b300(300, 'b'),
        p59(59, 'p'), cjk60 = kCjk + kCjk + kCjk + kCjk + kCjk + kCjk + kCjk + kCjk + kCjk + kCjk;
    static const std::vector<Built> rows = {
        {testPrintCommand(), "12 54", "test"},
        {makeBrokerAddressCommand("192.168.1.87", 1883).value(),
         "1F 28 54 10 00 53 31 39 32 2E 31 36 38 2E 31 2E 38 37 00 07 5B",
         R"(mqtt.broker server="192.168.1.87" port=1883)"},
        {makeBrokerAddressCommand("", 0).value(), "", R"(mqtt.broker server="" port=0)"},
        {makeBrokerAddressCommand(b300, 65535).value(), "",
         "mqtt.broker server=" + q(b300) + " port=65535"},
        {makeLoginCommand("", "").value(), "", R"(mqtt.login username="" password="")"},
        {makeLoginCommand("user", "secret").value(),
         "1F 28 51 0B 00 75 73 65 72 00 73 65 63 72 65 74",
         R"(mqtt.login username="user" password="secret")"},
        // 60 bytes of name in 20 characters, and a 120-byte payload.
        {makeLoginCommand(cjk60, p59).value(), "",
         "mqtt.login username=" + q(cjk60) + " password=" + q(p59)},
        {makeClientIdCommand(std::nullopt).value(), "1F 28 54 04 00 43 00 00 00",
         "mqtt.client-id clientId=(none)"},
        {makeClientIdCommand("").value(), "1F 28 54 04 00 43 00 00 00",
         "mqtt.client-id clientId=(none)"},
        {makeClientIdCommand("printer01").value(), "", R"(mqtt.client-id clientId="printer01")"},
        {makeSubscribeSourceCommand(0), "1F 28 54 03 00 54 00 54",
         "mqtt.subscribe-source source=cpu-uuid"},
        {makeSubscribeSourceCommand(1), "", "mqtt.subscribe-source source=mac"},
        {makeSubscribeSourceCommand(2), "", "mqtt.subscribe-source source=imei"},
        {makeSubscribeSourceCommand(7), "", "mqtt.subscribe-source source=7"},
        {makeReceiptPublishCommand(true), "1F 28 54 03 00 52 01 53",
         "mqtt.publish-receipts publish=on"},
        {makeReceiptPublishCommand(false), "", "mqtt.publish-receipts publish=off"},
        {makePublishQoSCommand(1), "1F 28 54 03 00 51 01 50", "mqtt.qos qos=1"},
        {makePublishQoSCommand(2), "1F 28 54 03 00 51 02 53", "mqtt.qos qos=2"},
        {makePublishQoSCommand(0), "1F 28 54 03 00 51 01 50", "mqtt.qos qos=1"},
        {makeTopicCommand(mqtt::heartbeatTopic, "HearBeat").value(),
         "1F 28 54 0A 00 68 48 65 61 72 42 65 61 74 00",
         R"(mqtt.heartbeat-topic topic="HearBeat")"},
        {makeTopicCommand(mqtt::receiptReplyTopic, "PrintSuccess").value(), "",
         R"(mqtt.reply-topic topic="PrintSuccess")"},
        {makeTopicCommand(mqtt::receiptReplyTopic, std::nullopt).value(), "",
         "mqtt.reply-topic topic=(none)"},
        {makeHeartbeatIntervalCommand(30), "1F 28 54 05 00 48 00 00 00 1E",
         "mqtt.heartbeat seconds=30"},
        {makeHeartbeatIntervalCommand(0xFFFFFFFF), "", "mqtt.heartbeat seconds=4294967295"},
        {makeKeepAliveCommand(0x01020304), "1F 28 54 05 00 50 01 02 03 04",
         "mqtt.keepalive seconds=16909060"},
        {makeClockCommand("192.168.1.1", 0x20).value(),
         "1F 28 54 0E 00 54 31 39 32 2E 31 36 38 2E 31 2E 31 00 20",
         R"(mqtt.clock ntpServer="192.168.1.1" zone=32 (UTC+8))"},
        {makeClockCommand("pool.ntp.org", 34).value(), "",
         R"(mqtt.clock ntpServer="pool.ntp.org" zone=34 (UTC+8:30))"},
        {makeClockCommand("", 0).value(), "", R"(mqtt.clock ntpServer="" zone=0 (UTC+0))"},
        // An empty NTP server with zone byte 0x54 is byte for byte "subscribe source CPU UUID";
        // the printer cannot tell them apart either, and the three-byte reading wins.
        {makeClockCommand("", 0x54).value(), "1F 28 54 03 00 54 00 54",
         "mqtt.subscribe-source source=cpu-uuid"},
        {makeDNSTestCommand("a.b").value(), "1F 28 54 05 00 44 61 2E 62 00",
         R"(mqtt.dns-test url="a.b")"},
        {makeTLSOffCommand(), "1F 28 10 07 09 00 00 00 00 00 00 00 00 00 00", "mqtt.tls-off"},
        {makeOneWayTLSCommand("AB").value(), "1F 28 54 05 00 4E 50 4B 41 42",
         R"(mqtt.tls-one-way certificate=(2 bytes) "AB")"},
        {makeOneWayTLSCommand("-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----")
             .value(),
         "", R"(mqtt.tls-one-way certificate=(58 bytes) "-----BEGIN CERTIFICATE-----")"},
        {makeOneWayTLSCommand(std::string(65532, 'C')).value(), "",
         "mqtt.tls-one-way certificate=(65532 bytes) " + q(std::string(64, 'C'))},
        {makeMutualTLSCommand({0xAA}, {0xBB, 0xBB}, {}, "p").value(),
         "1F 28 10 07 13 11 02 01 00 02 00 00 00 01 00 AA BB BB 70",
         R"(mqtt.tls-mutual caFile=(1 byte) clientFile=(2 bytes) keyFile=(0 bytes) password="p")"},
        {makeMutualTLSCommand(Bytes(1200, 1), Bytes(1100, 2), Bytes(1700, 3), "").value(), "",
         R"(mqtt.tls-mutual caFile=(1200 bytes) clientFile=(1100 bytes) keyFile=(1700 bytes) )"
         R"(password="")"},
        {makeBasicSettingsCommand(115200, true, true, 1, 0xFF, true),
         "1F 28 0F 0C 00 1F 73 05 00 00 00 00 01 FF 00 00 97",
         R"(basic baud=115200 cutter=on beeper=on density=medium codepage=0xFF )"
         R"("Simplified Chinese" font=12x24)"},
        {makeBasicSettingsCommand(9600, false, true, 2, 0, false), "",
         R"(basic baud=9600 cutter=off beeper=on density=dark codepage=0x00 )"
         R"("CP437 [US, European Standard]" font=9x17)"},
        {makeBasicSettingsCommand(4800, true, false, 0, 0x2F, true), "",
         R"(basic baud=4800 cutter=on beeper=off density=light codepage=0x2F "CP874" font=12x24)"},
        // Density outside a byte is clamped; a rate not offered becomes 9600.
        {makeBasicSettingsCommand(256000, true, true, 999, 0xFB, true), "",
         R"(basic baud=256000 cutter=on beeper=on density=255 codepage=0xFB "Korean" font=12x24)"},
        {makeBasicSettingsCommand(1200, false, false, -3, 1, false), "",
         R"(basic baud=9600 cutter=off beeper=off density=light codepage=0x01 )"
         R"("KataKana [Katakana]" font=9x17)"},
        {makePrinterNameCommand("Thermal").value(),
         "1F 28 0F 0B 00 1F 4E 54 68 65 72 6D 61 6C 00 1A", R"(name name="Thermal")"},
        {makePrinterNameCommand("").value(), "1F 28 0F 04 00 1F 4E 00 51", R"(name name="")"},
        {makePrinterNameCommand(kCjk).value(), "", "name name=" + q(kCjk)},
        {makePrinterNameCommand(n251).value(), "", "name name=" + q(n251)},
        {makeIPCommand(false, true, "", "", "").value(), "1F 28 0F 05 00 1F 49 00 00 56",
         "ip interface=ethernet mode=dhcp"},
        {makeIPCommand(true, true, "1.2.3.4", "x", "y").value(), "", "ip interface=wifi mode=dhcp"},
        {makeIPCommand(false, false, "192.168.1.100", "255.255.255.0", "192.168.1.1").value(),
         "1F 28 0F 19 00 1F 49 00 01 C0 A8 01 64 FF FF FF 00 C0 A8 01 01 01 01 01 01 08 08 08 08 "
         "CD",
         "ip interface=ethernet mode=static address=192.168.1.100 mask=255.255.255.0 "
         "gateway=192.168.1.1 dns1=1.1.1.1 dns2=8.8.8.8"},
        {makeWiFiCommand("abc", "").value(), "1F 28 0F 0A 00 1F 77 03 61 62 63 01 01 00 0B",
         R"(wifi ssid="abc" password="")"},
        {makeWiFiCommand("home", "secret").value(), "", R"(wifi ssid="home" password="secret")"},
        {makeWiFiCommand(s124, p124).value(), "", "wifi ssid=" + q(s124) + " password=" + q(p124)},
    };
    return rows;
}

// Every byte accounted for once, in order; one line per command, where a segment the decoder
// cannot use shows as its kind and the reason.
std::string decodedLines(const std::vector<DecodedCommand>& commands, std::size_t size) {
    std::string lines;
    std::size_t covered = 0;
    for (const auto& c : commands) {
        EXPECT_EQ(c.offset, covered) << renderLine(c);
        covered += c.length;
        const bool unusable = c.kind == CommandKind::unknown || c.kind == CommandKind::malformed;
        lines += (lines.empty() ? "" : "\n") +
                 (unusable ? std::string(commandName(c.kind)) + " (" + c.reason + ")"
                           : renderLine(c, {true}));
    }
    EXPECT_EQ(covered, size);
    return lines;
}

std::vector<std::string> jsonLines(const std::vector<DecodedCommand>& commands) {
    std::vector<std::string> lines;
    std::ranges::transform(commands, std::back_inserter(lines),
                           [](const DecodedCommand& c) { return renderJson(c); });
    return lines;
}

TEST(Commands, BuiltBytesAndTheirLines) {
    for (const auto& [bytes, spelled, line] : builtRows()) {
        if (!spelled.empty()) {
            EXPECT_EQ(hexText(bytes), spelled);
        }
        EXPECT_EQ(decodedLines(decode(bytes), bytes.size()), line);
    }
}

// Where decoding resumes after input it cannot use, and why it could not.
TEST(Commands, BadInput) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"FF 00 12 54", "unknown (unrecognised bytes)\ntest"},
        {"12 55 12 54", "unknown (unrecognised bytes)\ntest"},
        {"12 54 1F", "test\nmalformed (truncated command: needs 2 bytes, 1 present)"},
        {"1F 28", "malformed (truncated frame header: needs 3 bytes, 2 present)"},
        {"1F 28 54 05", "malformed (truncated frame header: needs 5 bytes, 4 present)"},
        {"1F 28 54 FF FF 53 41 12 54",
         "malformed (length beyond the data: needs 65540 bytes, 9 present)\ntest"},
        {"1F 28 99 01 02 12 54", "unknown (unknown function code 0x99)\ntest"},
        {"1F 28 0F 03 00 1F 5A 45 12 54", "unknown (unknown command letter 0x5A)\ntest"},
        {"1F 28 0F 0C 00 1F 73 05 00 00 00 00 01 FF 00 00 98",
         "malformed (bad checksum: expected 0x97, found 0x98)"},
        {"1F 28 0F 02 00 1F 4E",
         "malformed (parameter frame shorter than 1F, letter and checksum)"},
        {"1F 28 0F 03 00 20 4E 6E", "malformed (parameter frame without 1F before its letter)"},
        {"1F 28 0F 04 00 1F 4E 41 10", "malformed (printer name without 0x00 terminator)"},
        {"1F 28 0F 05 00 1F 49 02 00 54", "malformed (IP command with unknown interface or mode)"},
        {"1F 28 0F 06 00 1F 49 00 00 00 56", "malformed (dynamic IP command with extra bytes)"},
        {"1F 28 0F 08 00 1F 49 00 01 0A 00 00 5D",
         "malformed (static IP command with 3 address bytes, expected 20)"},
        {"1F 28 0F 0C 00 1F 73 09 00 00 00 00 01 0B 00 00 6F",
         "basic baudCode=9 cutter=on beeper=on density=medium codepage=0x0B (not in table) "
         "font=12x24"},
        {"1F 28 0F 04 00 1F 73 00 6C", "malformed (basic settings with 1 field bytes, expected 9)"},
        {"1F 28 0F 06 00 1F 77 05 01 01 6D", "malformed (Wi-Fi SSID length beyond the frame)"},
        {"1F 28 0F 07 00 1F 77 00 02 01 00 6B",
         "malformed (Wi-Fi command without 01 01 after the SSID)"},
        {"1F 28 0F 08 00 1F 77 01 61 01 01 05 0D",
         "malformed (Wi-Fi lengths disagree with the frame length)"},
        {"1F 28 54 00 00", "malformed (MQTT setting without a sub-code)"},
        {"1F 28 54 01 00 7A 12 54", "unknown (unknown MQTT sub-code 0x7A)\ntest"},
        {"1F 28 54 02 00 4E 41", "unknown (unknown MQTT sub-code 0x4E)"},
        {"1F 28 54 04 00 53 41 07 5B",
         "malformed (broker address without 0x00 terminator and port)"},
        {"1F 28 54 02 00 43 41", "malformed (text without 0x00 terminator)"},
        {"1F 28 54 04 00 43 00 00 01", "malformed (text without 0x00 terminator)"},
        {"1F 28 54 04 00 43 00 01 00", R"(mqtt.client-id clientId="\u0000\u0001")"},
        {"1F 28 54 03 00 52 05 57", "mqtt.publish-receipts publish=5"},
        {"1F 28 54 04 00 52 01 53 00",
         "malformed (one-byte setting with 4 payload bytes, expected 3)"},
        {"1F 28 54 03 00 52 01 00", "malformed (bad check byte: expected 0x53, found 0x00)"},
        {"1F 28 54 03 00 54 01 00", "malformed (bad check byte: expected 0x55, found 0x00)"},
        {"1F 28 54 04 00 54 41 42 43", "malformed (clock without 0x00 terminator and zone byte)"},
        {"1F 28 54 04 00 48 00 00 1E", "malformed (interval with 4 payload bytes, expected 5)"},
        {"1F 28 54 02 00 44 41", "malformed (DNS test URL without 0x00 terminator)"},
        {"1F 28 51 02 00 75 70", "malformed (login without 0x00 between user name and password)"},
        {"1F 28 10 07", "malformed (truncated TLS command: needs 5 bytes, 4 present)"},
        {"1F 28 10 07 09 00 00",
         "malformed (truncated TLS-off command: needs 15 bytes, 7 present)"},
        {"1F 28 10 07 09 00 00 00 00 01 00 00 00 00 00", "malformed (TLS-off with non-zero bytes)"},
        {"1F 28 10 07 13 11 02",
         "malformed (truncated mutual TLS header: needs 15 bytes, 7 present)"},
        {"1F 28 10 07 13 11 03 00 00 00 00 00 00 00 00 12 54",
         "unknown (unknown TLS command)\ntest"},
        {"1F 28 10 07 13 11 02 05 00 00 00 00 00 00 00 41",
         "malformed (mutual TLS parts beyond the data: needs 20 bytes, 16 present)"},
        {"1F 28 10 08 12 54", "unknown (unknown TLS command)\ntest"},
    };
    for (const auto& [input, lines] : cases) {
        EXPECT_EQ(decodedLines(decode(hex(input)), hex(input).size()), lines) << input;
    }
}

// Every built command with bytes between them that cannot start a command, after a command that
// cannot be delimited and before a cut-off frame: fed in pieces of any size, it decodes to the
// same commands at the same offsets as the whole (the runs of other bytes may come in pieces).
// The first piece ends right after the first byte of the command that follows the undelimited
// one (12 of the communication test, or 1F of a frame), which must not be taken into it.
TEST(Commands, AStreamInPiecesDecodesLikeTheWhole) {
    for (std::size_t first : {0, 1}) {
        Bytes stream = hex("1F 28 77 01 02"); // unknown function code: up to the next command
        std::string expected = "unknown (unknown function code 0x77)";
        for (const auto& [bytes, spelled, line] : builtRows() | std::views::drop(first)) {
            append(stream, bytes);
            append(stream, {0xAB, 0xCD});
            expected += "\n" + line + "\nunknown (unrecognised bytes)";
        }
        append(stream, hex("1F 28 0F 11 00 1F"));
        expected += "\nmalformed (length beyond the data: needs 22 bytes, 6 present)";
        EXPECT_EQ(decodedLines(decode(stream), stream.size()), expected);
        const auto commandsOnly = [&stream](std::vector<DecodedCommand> commands) {
            decodedLines(commands, stream.size());
            std::erase_if(commands, [](const auto& c) { return c.reason == "unrecognised bytes"; });
            return commands;
        };
        const auto whole = commandsOnly(decode(stream));
        for (std::size_t piece : {1, 2, 7, 300, 100000}) {
            StreamDecoder decoder;
            std::vector<DecodedCommand> got = decoder.feed(stream.data(), 6);
            for (std::size_t at = 6; at < stream.size(); at += piece) {
                std::ranges::move(decoder.feed(&stream[at], std::min(piece, stream.size() - at)),
                                  std::back_inserter(got));
            }
            std::ranges::move(decoder.finish(), std::back_inserter(got));
            EXPECT_EQ(jsonLines(commandsOnly(std::move(got))), jsonLines(whole)) << piece;
        }
    }
}

// Each kind of value in JSON, secrets hidden unless asked for, and what the decoder could not use
// with its bytes (the first 32 in a readable line).
TEST(Commands, JsonAndHiddenSecrets) {
    Bytes bytes;
    for (const auto& command : {makeClientIdCommand(std::nullopt).value(),
                                makeBasicSettingsCommand(115200, true, false, 2, 0, false),
                                makeMutualTLSCommand({0xAA}, {0xBB, 0xBB}, {}, "p").value(),
                                makeWiFiCommand("home", "secret").value(), Bytes(40, 0xAB)}) {
        append(bytes, command);
    }
    const auto decoded = decode(bytes);
    EXPECT_EQ(
        jsonLines(decoded),
        (std::vector<std::string>{
            R"({"offset":0,"length":9,"command":"mqtt.client-id","fields":{"clientId":null}})",
            R"({"offset":9,"length":17,"command":"basic","fields":{"baud":115200,"cutter":true,)"
            R"("beeper":false,"density":2,"codepage":0,"font12x24":false}})",
            R"({"offset":26,"length":19,"command":"mqtt.tls-mutual","fields":{"caFile":"AA",)"
            R"("clientFile":"BB BB","keyFile":"","passwordLength":1}})",
            R"({"offset":45,"length":22,"command":"wifi","fields":{"ssid":"home","passwordLength":6}})",
            R"({"offset":67,"length":40,"command":"unknown","reason":"unrecognised bytes",)"
            R"("fields":{"bytes":")" +
                hexText(Bytes(40, 0xAB)) + "\"}}"}));
    EXPECT_EQ(renderJson(decoded[3], {true}),
              R"({"offset":45,"length":22,"command":"wifi","fields":{"ssid":"home",)"
              R"("password":"secret"}})");
    EXPECT_EQ(renderLine(decoded[2]), "mqtt.tls-mutual caFile=(1 byte) clientFile=(2 bytes) "
                                      "keyFile=(0 bytes) password=(1 byte)");
    EXPECT_EQ(renderLine(decode(makeLoginCommand("u", "pw").value()).at(0)),
              R"(mqtt.login username="u" password=(2 bytes))");
    EXPECT_EQ(renderLine(decoded[4]),
              "unknown (unrecognised bytes) 40 bytes: " + hexText(Bytes(32, 0xAB)) + " …");
    // Quotes, backslashes and control characters escaped; valid UTF-8 kept, stray bytes shown as
    // the Latin-1 characters they would be.
    EXPECT_EQ(jsonQuoted("a\"\\\n\r\t\x01\x7F\xC3\xA9\xF0\x9F\x98\x80\xFF\xC3"),
              "\"a\\\"\\\\\\n\\r\\t\\u0001\\u007F\xC3\xA9\xF0\x9F\x98\x80\\u00FF\\u00C3\"");
}

// No builder makes a frame whose length field disagrees with its content: at each text's limit
// the frame is made and decodes as one command; one byte more and there is no frame (a wrapped
// length would let the printer read the rest of the text as commands of its own).
TEST(Commands, NoFrameLongerThanItsLengthField) {
    const auto text = [](std::size_t n) { return std::string(n, 'x'); };
    using Builder = std::function<std::optional<Bytes>(std::size_t)>;
    const std::vector<std::pair<Builder, std::size_t>> limits = {
        {[](std::size_t n) { return makeFrame(fn::mqttSetting, Bytes(n, 'x')); }, 65535},
        {[&](std::size_t n) { return makeBrokerAddressCommand(text(n), 1883); }, 65531},
        {[&](std::size_t n) { return makeClientIdCommand(text(n)); }, 65533},
        {[&](std::size_t n) { return makeTopicCommand(mqtt::heartbeatTopic, text(n)); }, 65533},
        {[&](std::size_t n) { return makeClockCommand(text(n), 32); }, 65532},
        {[&](std::size_t n) { return makeDNSTestCommand(text(n)); }, 65533},
        {[&](std::size_t n) { return makeOneWayTLSCommand(text(n)); }, 65532},
        {[](std::size_t n) { return makeMutualTLSCommand({1}, Bytes(n, 2), {3}, ""); }, 65535},
        {[&](std::size_t n) { return makeMutualTLSCommand({1}, {2}, {3}, text(n)); }, 65535},
        {[&](std::size_t n) { return makePrinterNameCommand(text(n)); }, 251},
        {[&](std::size_t n) { return makeWiFiCommand(text(124), text(n)); }, 124},
    };
    for (std::size_t row = 0; row < limits.size(); ++row) {
        const auto& [build, limit] = limits[row];
        const auto fits = build(limit);
        ASSERT_TRUE(fits) << "row " << row;
        const auto decoded = decode(*fits);
        ASSERT_EQ(decoded.size(), 1u) << "row " << row;
        EXPECT_NE(decoded[0].kind, CommandKind::malformed) << "row " << row;
        EXPECT_FALSE(build(limit + 1)) << "row " << row;
    }
    // The static address form says its length as a constant: only four dotted numbers fit it.
    EXPECT_FALSE(makeIPCommand(false, false, "1.2.3.4.5", "255.255.255.0", "1.2.3.4"));
}

TEST(Commands, PrimitivesLimitsAndTables) {
    EXPECT_EQ(hexText(u16LEClamped(-5)), "00 00");
    EXPECT_EQ(hexText(u16LEClamped(70000)), "FF FF");
    EXPECT_EQ(hexText(u16LEClamped(300)), "2C 01");
    // A login is refused when either part exceeds 60 bytes, or the payload 120.
    const std::string n60(60, 'u'), n61(61, 'u');
    EXPECT_FALSE(makeLoginCommand(n60, n60));
    EXPECT_FALSE(makeLoginCommand(n61, ""));
    EXPECT_FALSE(makeLoginCommand("", n61));
    const std::vector<std::pair<const char*, const char*>> addresses = {
        {"192.168.1.300", "C0 A8 01 00"}, {"a.b.c.d", "00 00 00 00"},
        {" 192.168.1.1", "00 A8 01 01"},  {"-0.+1.-1.1", "00 01 00 01"},
        {"192..168.1.1", "C0 A8 01 01"},  {".10.0.0.", "0A 00 00"},
        {"0255.1.1.1", "FF 01 01 01"}};
    for (auto [text, bytes] : addresses) {
        EXPECT_EQ(hexText(ipTextToBytes(text)), bytes) << '"' << text << '"';
    }
    EXPECT_TRUE(ipTextToBytes("").empty());
    // 49 rows, no id twice, each title found as itself; an id not in the table reads as the first.
    std::set<int> ids;
    for (const auto& row : languageOptions()) {
        ids.insert(row.id);
        EXPECT_EQ(findLanguageByTitle(row.title), &row);
    }
    EXPECT_EQ(ids.size(), 49u);
    EXPECT_EQ(languageTitle(11), "Simplified Chinese");
}

} // namespace
