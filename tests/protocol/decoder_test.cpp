// The decoder against the builders: generated inputs survive build -> decode unchanged, any bytes
// decode without harm, and a stream split anywhere decodes like the whole.
#include "protocol/basic_settings.hpp"
#include "protocol/decoder.hpp"
#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"
#include "tests/support/hex.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace protocol;
using testing_support::hex;

namespace {

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    std::uint64_t below(std::uint64_t n) {
        return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(rng_);
    }
    bool coin() { return below(2) == 1; }

    // UTF-8 text of at most maxBytes bytes: ASCII, two-, three- and four-byte characters; no NUL.
    std::string text(std::size_t maxBytes) {
        const std::size_t target = below(maxBytes + 1);
        std::string s;
        while (true) {
            std::string c = character();
            if (s.size() + c.size() > target) {
                return s;
            }
            s += c;
        }
    }
    // Text of exactly n bytes (ASCII tail pads where a wide character would not fit).
    std::string textOfSize(std::size_t n) {
        std::string s = text(n);
        while (s.size() < n) {
            s += static_cast<char>('a' + below(26));
        }
        return s;
    }
    Bytes bytes(std::size_t maxSize) {
        Bytes b(below(maxSize + 1));
        for (auto& x : b) {
            x = static_cast<std::uint8_t>(below(256));
        }
        return b;
    }

private:
    std::string character() {
        switch (below(4)) {
        case 0:
            return std::string(1, static_cast<char>(0x20 + below(0x5F)));
        case 1:
            return encode(0x80 + below(0x780));
        case 2: {
            auto cp = 0x800 + below(0xF800);
            return encode(cp >= 0xD800 && cp <= 0xDFFF ? 0x4E2D : cp);
        }
        default:
            return encode(0x10000 + below(0x100000));
        }
    }
    static std::string encode(std::uint64_t cp) {
        std::string s;
        if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
        } else if (cp < 0x10000) {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (cp >> 18));
            s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        }
        s += static_cast<char>(0x80 | (cp & 0x3F));
        return s;
    }
    std::mt19937_64 rng_;
};

// A built command and what its decoding must say.
struct Expectation {
    Bytes bytes;
    CommandKind kind;
    std::vector<Field> fields;
};

std::string quad(const Bytes& b, std::size_t at) {
    return std::to_string(b[at]) + "." + std::to_string(b[at + 1]) + "." +
           std::to_string(b[at + 2]) + "." + std::to_string(b[at + 3]);
}

std::optional<std::string> orAbsent(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional(text);
}

FieldValue textOrAbsent(const std::string& text) {
    return text.empty() ? FieldValue{Absent{}} : FieldValue{text};
}

// One random command of a random kind; `limit` scales lengths towards the frames' maxima.
Expectation randomCommand(Generator& g) {
    using K = CommandKind;
    switch (g.below(17)) {
    case 0: {
        auto server = g.text(g.coin() ? 300 : 40);
        auto port = static_cast<std::uint16_t>(g.below(65536));
        return {makeBrokerAddressCommand(server, port),
                K::brokerAddress,
                {{"server", server}, {"port", std::uint64_t{port}}}};
    }
    case 1: {
        auto user = g.text(60), password = g.text(60);
        auto login = makeLoginCommand(user, password);
        if (!login) {
            user = g.text(30), password = g.text(30);
            login = makeLoginCommand(user, password);
        }
        return {*login, K::login, {{"username", user}, {"password", password}}};
    }
    case 2: {
        auto id = g.coin() ? std::string() : g.text(80);
        return {makeClientIdCommand(orAbsent(id)), K::clientId, {{"clientId", textOrAbsent(id)}}};
    }
    case 3: {
        const bool heartbeat = g.coin();
        auto topic = g.coin() ? std::string() : g.text(120);
        return {makeTopicCommand(heartbeat ? mqtt::heartbeatTopic : mqtt::receiptReplyTopic, topic),
                heartbeat ? K::heartbeatTopic : K::receiptReplyTopic,
                {{"topic", textOrAbsent(topic)}}};
    }
    case 4: {
        auto v = static_cast<std::uint8_t>(g.below(256));
        return {makeSubscribeSourceCommand(v), K::subscribeSource, {{"source", std::uint64_t{v}}}};
    }
    case 5: {
        bool on = g.coin();
        return {makeReceiptPublishCommand(on), K::receiptPublish, {{"publish", std::uint64_t{on}}}};
    }
    case 6: {
        auto q = static_cast<std::uint8_t>(g.below(4));
        return {
            makePublishQoSCommand(q), K::publishQoS, {{"qos", std::uint64_t{q == 2 ? 2u : 1u}}}};
    }
    case 7: {
        auto s = static_cast<std::uint32_t>(g.coin() ? g.below(7201) : g.below(1ull << 32));
        const bool heartbeat = g.coin();
        return {heartbeat ? makeHeartbeatIntervalCommand(s) : makeKeepAliveCommand(s),
                heartbeat ? K::heartbeatInterval : K::keepAlive,
                {{"seconds", std::uint64_t{s}}}};
    }
    case 8: {
        auto server = g.text(64);
        auto zone = static_cast<std::uint8_t>(g.below(256));
        if (server.empty() && zone == 0x54) {
            zone = 0x20; // that one byte string also reads as "subscribe source 0" (see below)
        }
        return {makeClockCommand(server, zone),
                K::clock,
                {{"ntpServer", server}, {"zone", std::uint64_t{zone}}}};
    }
    case 9: {
        auto url = g.text(200);
        return {makeDNSTestCommand(url), K::dnsTest, {{"url", url}}};
    }
    case 10: {
        auto cert = g.textOfSize(g.coin() ? 65532 - g.below(4) : 1 + g.below(2000));
        return {makeOneWayTLSCommand(cert), K::oneWayTLS, {{"certificate", cert}}};
    }
    case 11: {
        auto a = g.bytes(3000), b = g.bytes(3000), c = g.bytes(3000);
        auto password = g.text(80);
        return {makeMutualTLSCommand(a, b, c, password),
                K::mutualTLS,
                {{"caFile", a}, {"clientFile", b}, {"keyFile", c}, {"password", password}}};
    }
    case 12:
        return {makeTLSOffCommand(), K::tlsOff, {}};
    case 13: {
        const int baud = static_cast<int>(g.coin() ? kBaudRates[g.below(8)] : g.below(300000));
        const bool cutter = g.coin(), beeper = g.coin(), font = g.coin();
        const int density = static_cast<int>(g.below(3));
        const auto id = languageOptions()[g.below(49)].id;
        return {makeBasicSettingsCommand(baud, cutter, beeper, density, id, font),
                K::basicSettings,
                {{"baud", std::uint64_t(kBaudRates[baudRateCode(baud)])},
                 {"cutter", cutter},
                 {"beeper", beeper},
                 {"density", std::uint64_t(density)},
                 {"codepage", std::uint64_t{id}},
                 {"font12x24", font}}};
    }
    case 14: {
        auto name = g.coin() ? g.textOfSize(251) : g.text(251);
        return {makePrinterNameCommand(name), K::printerName, {{"name", name}}};
    }
    case 15: {
        const bool wifi = g.coin();
        if (g.coin()) {
            return {makeIPCommand(wifi, true, "", "", ""),
                    K::ipConfig,
                    {{"interface", std::string(wifi ? "wifi" : "ethernet")}, {"dynamic", true}}};
        }
        Bytes b = g.bytes(0);
        for (int i = 0; i < 12; ++i) {
            b.push_back(static_cast<std::uint8_t>(g.below(256)));
        }
        const auto ip = quad(b, 0), mask = quad(b, 4), gateway = quad(b, 8);
        return {makeIPCommand(wifi, false, ip, mask, gateway),
                K::ipConfig,
                {{"interface", std::string(wifi ? "wifi" : "ethernet")},
                 {"dynamic", false},
                 {"address", ip},
                 {"mask", mask},
                 {"gateway", gateway},
                 {"dns1", quad(Bytes(kPrimaryDNS.begin(), kPrimaryDNS.end()), 0)},
                 {"dns2", quad(Bytes(kSecondaryDNS.begin(), kSecondaryDNS.end()), 0)}}};
    }
    default: {
        auto ssid = g.text(124), password = g.text(124);
        if (g.coin()) { // exactly at the limit
            ssid = g.textOfSize(248 - password.size());
        }
        return {makeWiFiCommand(ssid, password), K::wifi, {{"ssid", ssid}, {"password", password}}};
    }
    }
}

void expectDecodedAs(const DecodedCommand& got, const Expectation& want) {
    ASSERT_EQ(commandName(got.kind), commandName(want.kind)) << got.reason;
    ASSERT_EQ(got.length, want.bytes.size());
    ASSERT_EQ(got.fields.size(), want.fields.size()) << commandName(want.kind);
    for (std::size_t i = 0; i < want.fields.size(); ++i) {
        EXPECT_EQ(got.fields[i].key, want.fields[i].key);
        EXPECT_TRUE(got.fields[i].value == want.fields[i].value)
            << commandName(want.kind) << "." << want.fields[i].key;
    }
}

TEST(DecoderRoundTrip, EveryKindWithGeneratedInputs) {
    Generator g(20261206);
    for (int i = 0; i < 3000; ++i) {
        const auto want = randomCommand(g);
        const auto got = decode(want.bytes);
        ASSERT_EQ(got.size(), 1u) << hexText(want.bytes);
        expectDecodedAs(got[0], want);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(DecoderRoundTrip, CommunicationTestAndSharedSubCode) {
    auto got = decode(testPrintCommand());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, CommandKind::communicationTest);
    // An empty NTP server with zone byte 0x54 is byte for byte "subscribe source CPU UUID";
    // the printer cannot tell them apart either, and the three-byte reading wins.
    EXPECT_EQ(makeClockCommand("", 0x54), makeSubscribeSourceCommand(0));
    EXPECT_EQ(decode(makeClockCommand("", 0x54))[0].kind, CommandKind::subscribeSource);
    EXPECT_EQ(decode(makeClockCommand("", 0x00))[0].kind, CommandKind::clock);
}

// Commands, with runs of bytes between them that cannot start a command, fed in random pieces:
// every command is found whole, and everything else is reported as unknown.
TEST(DecoderStream, CommandsSurviveGarbageAndAnySplit) {
    Generator g(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<Expectation> wants;
        Bytes stream;
        for (auto n = g.below(8) + 1; n > 0; --n) {
            for (auto k = g.coin() ? g.below(20) + 1 : 0; k > 0; --k) {
                const auto b = static_cast<std::uint8_t>(g.below(256));
                stream.push_back(b == 0x12 || b == 0x1F ? 0x00 : b);
            }
            wants.push_back(randomCommand(g));
            append(stream, wants.back().bytes);
        }
        // Fed in random pieces, the stream decodes to the same commands at the same offsets.
        StreamDecoder decoder;
        std::vector<DecodedCommand> got;
        for (std::size_t at = 0; at < stream.size();) {
            const auto piece =
                std::min<std::size_t>(stream.size() - at, 1 + g.below(g.coin() ? 7 : 5000));
            for (auto& c : decoder.feed(stream.data() + at, piece)) {
                got.push_back(std::move(c));
            }
            at += piece;
        }
        EXPECT_TRUE(decoder.finish().empty());
        std::vector<const DecodedCommand*> commands;
        std::size_t offset = 0;
        for (const auto& c : got) {
            EXPECT_EQ(c.offset, offset);
            offset += c.length;
            if (c.kind != CommandKind::unknown || c.reason != "unrecognised bytes") {
                commands.push_back(&c);
            }
        }
        EXPECT_EQ(offset, stream.size());
        ASSERT_EQ(commands.size(), wants.size());
        for (std::size_t i = 0; i < wants.size(); ++i) {
            expectDecodedAs(*commands[i], wants[i]);
        }
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(DecoderRobustness, ResynchronisesAfterBadInput) {
    struct Case {
        const char* what;
        const char* input;
        std::vector<std::pair<std::string, std::size_t>> segments; // name, length
    };
    const std::vector<Case> cases = {
        {"garbage then test", "FF 00 12 54", {{"unknown", 2}, {"test", 2}}},
        {"12 not followed by 54", "12 55 12 54", {{"unknown", 2}, {"test", 2}}},
        {"bad checksum",
         "1F 28 0F 0C 00 1F 73 05 00 00 00 00 01 FF 00 00 98 12 54",
         {{"malformed", 17}, {"test", 2}}},
        {"length beyond the data", "1F 28 54 FF FF 53 41 12 54", {{"malformed", 7}, {"test", 2}}},
        {"unknown function code", "1F 28 99 01 02 12 54", {{"unknown", 5}, {"test", 2}}},
        {"unknown letter, good checksum",
         "1F 28 0F 03 00 1F 5A 45 12 54",
         {{"unknown", 8}, {"test", 2}}},
        {"unknown MQTT sub-code", "1F 28 54 01 00 7A 12 54", {{"unknown", 6}, {"test", 2}}},
        {"bad check byte", "1F 28 54 03 00 52 01 00", {{"malformed", 8}}},
        {"missing terminator", "1F 28 54 02 00 44 41", {{"malformed", 7}}},
        {"wifi lengths disagree", "1F 28 0F 08 00 1F 77 05 61 01 01 00 1C", {{"malformed", 13}}},
        {"lone 1F at the end", "12 54 1F", {{"test", 2}, {"malformed", 1}}},
        {"truncated header", "1F 28 54 05", {{"malformed", 4}}},
        {"TLS off with junk", "1F 28 10 07 09 00 00 00 00 01 00 00 00 00 00", {{"malformed", 15}}},
        {"mutual TLS short",
         "1F 28 10 07 13 11 02 05 00 00 00 00 00 00 00 41",
         {{"malformed", 16}}},
        {"unknown TLS command", "1F 28 10 08 12 54", {{"unknown", 4}, {"test", 2}}},
        {"static IP with 3-part address",
         "1F 28 0F 19 00 1F 49 00 01 0A 00 00 FF FF FF 00 0A 00 00 01 01 01 01 01 08 08 08 08 00",
         {{"malformed", 29}}},
    };
    for (const auto& c : cases) {
        const auto got = decode(hex(c.input));
        std::vector<std::pair<std::string, std::size_t>> segments;
        for (const auto& command : got) {
            segments.emplace_back(commandName(command.kind), command.length);
        }
        EXPECT_EQ(segments, c.segments) << c.what;
    }
}

TEST(DecoderStream, CommandAfterUnknownBytesSurvivesASplitAtItsFirstByte) {
    // An unknown function code, then a command; the stream is cut right after the command's
    // first byte (the 1F of a frame, the 12 of the communication test).
    for (const auto& follower : {makeWiFiCommand("home", "secret"), testPrintCommand()}) {
        Bytes stream = hex("1F 28 77 01 02");
        append(stream, follower);
        StreamDecoder decoder;
        auto got = decoder.feed(stream.data(), 6);
        for (auto& c : decoder.feed(stream.data() + 6, stream.size() - 6)) {
            got.push_back(std::move(c));
        }
        for (auto& c : decoder.finish()) {
            got.push_back(std::move(c));
        }
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].kind, CommandKind::unknown);
        EXPECT_EQ(got[0].length, 5u);
        EXPECT_EQ(got[1].length, follower.size());
        EXPECT_NE(got[1].kind, CommandKind::unknown);
    }
}

TEST(DecoderStream, WaitsForTheRestOfAFrame) {
    const auto frame = makeWiFiCommand("home", "secret");
    StreamDecoder decoder;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
        EXPECT_TRUE(decoder.feed(&frame[i], 1).empty()) << i;
    }
    const auto got = decoder.feed(&frame.back(), 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, CommandKind::wifi);
    // A frame cut off by the end of the stream is reported when the stream ends.
    EXPECT_TRUE(decoder.feed(frame.data(), 6).empty());
    const auto tail = decoder.finish();
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(tail[0].kind, CommandKind::malformed);
    EXPECT_EQ(tail[0].offset, frame.size());
}

TEST(DecoderRender, LinesAndJson) {
    const auto wifi = decode(makeWiFiCommand("home", "secret"))[0];
    EXPECT_EQ(renderLine(wifi), "wifi ssid=\"home\" password=(6 bytes)");
    EXPECT_EQ(renderLine(wifi, {true}), "wifi ssid=\"home\" password=\"secret\"");
    EXPECT_EQ(
        renderJson(wifi),
        R"({"offset":0,"length":22,"command":"wifi","fields":{"ssid":"home","passwordLength":6}})");
    EXPECT_EQ(renderLine(decode(makeBasicSettingsCommand(115200, true, false, 2, 0xFF, false))[0]),
              "basic baud=115200 cutter=on beeper=off density=dark codepage=0xFF \"Simplified "
              "Chinese\" font=9x17");
    EXPECT_EQ(renderLine(decode(makeClockCommand("pool.ntp.org", 34))[0]),
              "mqtt.clock ntpServer=\"pool.ntp.org\" zone=34 (UTC+8:30)");
    EXPECT_EQ(renderLine(decode(makeClientIdCommand(std::nullopt))[0]),
              "mqtt.client-id clientId=(none)");
    EXPECT_EQ(renderLine(decode(hex("1F 28 54 01 00 7A"))[0]),
              "unknown (unknown MQTT sub-code 0x7A) 6 bytes: 1F 28 54 01 00 7A");
    EXPECT_EQ(renderLine(decode(hex("FF"))[0]), "unknown (unrecognised bytes) 1 byte: FF");
    // Control characters and stray bytes are escaped, valid UTF-8 kept.
    EXPECT_EQ(jsonQuoted("a\"\\\n\x01\xC3\xA9\xFF"), "\"a\\\"\\\\\\n\\u0001\xC3\xA9\\u00FF\"");
}

} // namespace
