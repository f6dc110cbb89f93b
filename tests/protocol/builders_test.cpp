// Byte vectors for every builder: the worked examples and the edges that catch real faults.
#include "protocol/basic_settings.hpp"
#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"
#include "tests/support/hex.hpp"

#include <gtest/gtest.h>

#include <set>

using namespace protocol;
using testing_support::hex;

namespace {

struct Vector {
    const char* what;
    Bytes actual;
    const char* expected;
};

void expectVectors(const std::vector<Vector>& vectors) {
    for (const auto& v : vectors) {
        EXPECT_EQ(hexText(v.actual), hexText(hex(v.expected))) << v.what;
    }
}

const std::string kThreeByteChars = "\xE4\xB8\xAD\xE6\x96\x87"; // two CJK characters, 6 bytes

TEST(FramePrimitives, Vectors) {
    expectVectors({
        {"empty MQTT frame", makeFrame(0x54, {}), "1F 28 54 00 00"},
        {"u16LE below zero", u16LEClamped(-5), "00 00"},
        {"u16LE above range", u16LEClamped(70000), "FF FF"},
        {"u16LE 300", u16LEClamped(300), "2C 01"},
        {"u16BE 1883", u16BE(1883), "07 5B"},
        {"u32BE 7200", u32BE(7200), "00 00 1C 20"},
        {"u32BE 30", u32BE(30), "00 00 00 1E"},
        {"u32BE max", u32BE(0xFFFFFFFF), "FF FF FF FF"},
        {"one-byte Q 2", oneByteSetting(0x51, 2), "51 02 53"},
        {"one-byte T 0", oneByteSetting(0x54, 0), "54 00 54"},
        {"utf8 of multi-byte", utf8Bytes(kThreeByteChars), "E4 B8 AD E6 96 87"},
        {"cString of multi-byte", cStringBytes(kThreeByteChars), "E4 B8 AD E6 96 87 00"},
        {"cString of empty", cStringBytes(""), "00"},
        {"test print", testPrintCommand(), "12 54"},
    });
    const auto large = makeFrame(0x0F, Bytes(300, 0xAA));
    EXPECT_EQ(large.size(), 305u);
    EXPECT_EQ(hexText(Bytes(large.begin(), large.begin() + 5)), "1F 28 0F 2C 01");
    EXPECT_EQ(xorChecksum(Bytes{}), 0x00);
    EXPECT_EQ(xorChecksum(hex("1F 73 05 00 00 00 00 01 FF 00 00")), 0x97);
}

TEST(FramePrimitives, HexDumpLine) {
    EXPECT_EQ(hexDumpLine(kBasicLogPrefix, {0x0A, 0xFF}), "发送命令: 0A FF");
    EXPECT_EQ(hexDumpLine(kMqttLogPrefix, {}), "发送MQTT命令: ");
    EXPECT_EQ(hexDumpLine(kMqttLogPrefix, hex("1F 28 54 03 00 52 01 53")),
              "发送MQTT命令: 1F 28 54 03 00 52 01 53");
    EXPECT_EQ(hexDumpLine(kIPLogPrefix, hex("1F 28 0F 05 00 1F 49 00 00 56")),
              "发送IP设置命令: 1F 28 0F 05 00 1F 49 00 00 56");
}

TEST(MqttCommands, Vectors) {
    expectVectors({
        {"broker", makeBrokerAddressCommand("192.168.1.87", 1883),
         "1F 28 54 10 00 53 31 39 32 2E 31 36 38 2E 31 2E 38 37 00 07 5B"},
        {"broker empty server port 0", makeBrokerAddressCommand("", 0),
         "1F 28 54 04 00 53 00 00 00"},
        {"client id absent", makeClientIdCommand(std::nullopt), "1F 28 54 04 00 43 00 00 00"},
        {"client id empty", makeClientIdCommand(""), "1F 28 54 04 00 43 00 00 00"},
        {"client id", makeClientIdCommand("printer01"),
         "1F 28 54 0B 00 43 70 72 69 6E 74 65 72 30 31 00"},
        {"source cpu", makeSubscribeSourceCommand(0), "1F 28 54 03 00 54 00 54"},
        {"source mac", makeSubscribeSourceCommand(1), "1F 28 54 03 00 54 01 55"},
        {"source imei", makeSubscribeSourceCommand(2), "1F 28 54 03 00 54 02 56"},
        {"publish on", makeReceiptPublishCommand(true), "1F 28 54 03 00 52 01 53"},
        {"publish off", makeReceiptPublishCommand(false), "1F 28 54 03 00 52 00 52"},
        {"qos 1", makePublishQoSCommand(1), "1F 28 54 03 00 51 01 50"},
        {"qos 2", makePublishQoSCommand(2), "1F 28 54 03 00 51 02 53"},
        {"qos 0 is 1", makePublishQoSCommand(0), "1F 28 54 03 00 51 01 50"},
        {"qos 3 is 1", makePublishQoSCommand(3), "1F 28 54 03 00 51 01 50"},
        {"heartbeat topic", makeTopicCommand(mqtt::heartbeatTopic, "HearBeat"),
         "1F 28 54 0A 00 68 48 65 61 72 42 65 61 74 00"},
        {"empty heartbeat topic", makeTopicCommand(mqtt::heartbeatTopic, ""),
         "1F 28 54 04 00 68 00 00 00"},
        {"reply topic", makeTopicCommand(mqtt::receiptReplyTopic, "PrintSuccess"),
         "1F 28 54 0E 00 72 50 72 69 6E 74 53 75 63 63 65 73 73 00"},
        {"absent reply topic", makeTopicCommand(mqtt::receiptReplyTopic, std::nullopt),
         "1F 28 54 04 00 72 00 00 00"},
        {"heartbeat 30", makeHeartbeatIntervalCommand(30), "1F 28 54 05 00 48 00 00 00 1E"},
        {"heartbeat off", makeHeartbeatIntervalCommand(0), "1F 28 54 05 00 48 00 00 00 00"},
        {"keep-alive 7200", makeKeepAliveCommand(7200), "1F 28 54 05 00 50 00 00 1C 20"},
        {"clock", makeClockCommand("192.168.1.1", 0x20),
         "1F 28 54 0E 00 54 31 39 32 2E 31 36 38 2E 31 2E 31 00 20"},
        {"clock empty server zone 0", makeClockCommand("", 0), "1F 28 54 03 00 54 00 00"},
        {"dns empty", makeDNSTestCommand(""), "1F 28 54 02 00 44 00"},
        {"login empty", *makeLoginCommand("", ""), "1F 28 51 01 00 00"},
        {"login 4+6", *makeLoginCommand("user", "secret"),
         "1F 28 51 0B 00 75 73 65 72 00 73 65 63 72 65 74"},
        {"tls off", makeTLSOffCommand(), "1F 28 10 07 09 00 00 00 00 00 00 00 00 00 00"},
        {"one-way", makeOneWayTLSCommand("AB"), "1F 28 54 05 00 4E 50 4B 41 42"},
        {"mutual small", makeMutualTLSCommand({0xAA}, {0xBB, 0xBB}, {}, "p"),
         "1F 28 10 07 13 11 02 01 00 02 00 00 00 01 00 AA BB BB 70"},
    });
}

TEST(MqttCommands, LoginLimits) {
    const std::string b60(60, 'u'), b59(59, 'p'), b61(61, 'x');
    struct Case {
        std::string user, password;
        bool accepted;
    };
    for (const auto& c : std::vector<Case>{{b60, b59, true},
                                           {b60, b60, false}, // 121-byte payload
                                           {b61, "", false},
                                           {"", b61, false},
                                           {"", b60, true},
                                           // 20 three-byte characters = 60 bytes
                                           {[] {
                                                std::string s;
                                                for (int i = 0; i < 20; ++i)
                                                    s += "\xE4\xB8\xAD";
                                                return s;
                                            }(),
                                            "", true}}) {
        const auto login = makeLoginCommand(c.user, c.password);
        ASSERT_EQ(login.has_value(), c.accepted) << c.user.size() << "+" << c.password.size();
        if (login) {
            EXPECT_EQ((*login)[3], c.user.size() + 1 + c.password.size());
            EXPECT_EQ((*login)[4], 0x00);
            EXPECT_EQ(login->size(), 5 + c.user.size() + 1 + c.password.size());
        }
    }
}

TEST(MqttCommands, TlsLengths) {
    const Bytes ca(1200, 1), client(1100, 2), key(1700, 3);
    const auto mutual = makeMutualTLSCommand(ca, client, key, "12345678");
    EXPECT_EQ(mutual.size(), 4023u);
    EXPECT_EQ(hexText(Bytes(mutual.begin() + 7, mutual.begin() + 15)), "B0 04 4C 04 A4 06 08 00");
    EXPECT_EQ(mutual[15], 1);
    EXPECT_EQ(mutual[15 + 1200], 2);
    EXPECT_EQ(mutual[15 + 2300], 3);
    EXPECT_EQ(mutual.back(), '8');

    // An empty password: length 00 00 and no password bytes.
    const auto noPassword = makeMutualTLSCommand(ca, client, key, "");
    EXPECT_EQ(noPassword[13], 0);
    EXPECT_EQ(noPassword[14], 0);
    EXPECT_EQ(noPassword.size(), 15u + 4000u);

    for (std::size_t t : {0u, 1u, 300u, 65532u}) {
        const auto command = makeOneWayTLSCommand(std::string(t, 'C'));
        EXPECT_EQ(command.size(), t + 8);
        EXPECT_EQ(command[3] | (command[4] << 8), static_cast<int>(t + 3));
    }
}

TEST(BasicSettings, Vectors) {
    expectVectors({
        {"screen defaults", makeBasicSettingsCommand(115200, true, true, 1, 0xFF, true),
         "1F 28 0F 0C 00 1F 73 05 00 00 00 00 01 FF 00 00 97"},
        {"9600 cutter off dark cp437 9x17",
         makeBasicSettingsCommand(9600, false, true, 2, 0, false),
         "1F 28 0F 0C 00 1F 73 01 01 00 00 00 02 00 00 01 6F"},
    });
    const auto both = makeBasicSettingsCommand(115200, false, false, 0, 0xFB, true);
    EXPECT_EQ(both[8], 0x01);
    EXPECT_EQ(both[9], 0x01);
    EXPECT_EQ(both[13], 0xFB);
    EXPECT_EQ(makeBasicSettingsCommand(115200, true, true, 0, 0x2F, true)[13], 0x2F);
    // Density outside a byte is clamped.
    EXPECT_EQ(makeBasicSettingsCommand(9600, true, true, -3, 0, true)[12], 0);
    EXPECT_EQ(makeBasicSettingsCommand(9600, true, true, 999, 0, true)[12], 255);
    for (int density : {0, 1, 2, 255}) {
        const auto frame = makeBasicSettingsCommand(4800, true, false, density, 7, false);
        ASSERT_EQ(frame.size(), 17u);
        EXPECT_EQ(frame[3], 0x0C);
        EXPECT_EQ(frame[4], 0x00);
        EXPECT_EQ(frame[10] | frame[11] | frame[14], 0);
        EXPECT_EQ(frame[16], xorChecksum(frame.data() + 5, frame.data() + 16));
    }
}

TEST(BasicSettings, BaudCodes) {
    const std::vector<std::pair<int, int>> cases = {
        {4800, 0},   {9600, 1},   {19200, 2}, {38400, 3}, {57600, 4}, {115200, 5},
        {230400, 6}, {256000, 7}, {1200, 1},  {0, 1},     {-9600, 1}};
    for (auto [rate, code] : cases) {
        EXPECT_EQ(baudRateCode(rate), code) << rate;
    }
}

TEST(BasicSettings, LanguageTable) {
    const auto rows = languageOptions();
    ASSERT_EQ(rows.size(), 49u);
    EXPECT_EQ(rows.front(), (LanguageOption{255, "Simplified Chinese"}));
    EXPECT_EQ(rows[5], (LanguageOption{0, "CP437 [US, European Standard]"}));
    EXPECT_EQ(rows.back(), (LanguageOption{47, "CP874"}));
    std::set<int> ids;
    for (const auto& row : rows) {
        ids.insert(row.id);
    }
    EXPECT_EQ(ids.size(), 49u) << "ids must be unique";
    for (int absent : {11, 12, 13, 14}) {
        EXPECT_EQ(ids.count(absent), 0u);
        EXPECT_EQ(languageTitle(static_cast<std::uint8_t>(absent)), "Simplified Chinese");
    }
    EXPECT_EQ(languageTitle(0xFB), "Korean");
    EXPECT_EQ(languageTitle(0x2F), "CP874");
    EXPECT_EQ(languageTitle(48), "Simplified Chinese");
}

TEST(ParameterCommands, Vectors) {
    const Bytes dns{kPrimaryDNS[0],   kPrimaryDNS[1],   kPrimaryDNS[2],   kPrimaryDNS[3],
                    kSecondaryDNS[0], kSecondaryDNS[1], kSecondaryDNS[2], kSecondaryDNS[3]};
    Bytes ethernetStatic = hex("1F 28 0F 19 00 1F 49 00 01 C0 A8 01 64 FF FF FF 00 C0 A8 01 01");
    append(ethernetStatic, dns);
    ethernetStatic.push_back(static_cast<std::uint8_t>(0xCD ^ xorChecksum(dns)));
    EXPECT_EQ(hexText(makeIPCommand(false, false, "192.168.1.100", "255.255.255.0", "192.168.1.1")),
              hexText(ethernetStatic));

    expectVectors({
        {"ethernet dhcp", makeIPCommand(false, true, "", "", ""), "1F 28 0F 05 00 1F 49 00 00 56"},
        {"wifi dhcp", makeIPCommand(true, true, "1.2.3.4", "x", "y"),
         "1F 28 0F 05 00 1F 49 01 00 57"},
        {"name", makePrinterNameCommand("Thermal"),
         "1F 28 0F 0B 00 1F 4E 54 68 65 72 6D 61 6C 00 1A"},
        {"empty name", makePrinterNameCommand(""), "1F 28 0F 04 00 1F 4E 00 51"},
    });
    const auto wifiStatic = makeIPCommand(true, false, "10.0.0.2", "255.0.0.0", "10.0.0.1");
    EXPECT_EQ(wifiStatic[7], 0x01);
    EXPECT_EQ(wifiStatic[8], 0x01);
    EXPECT_EQ(wifiStatic.size(), 30u);
    // A name of two three-byte characters: N counts bytes.
    EXPECT_EQ(makePrinterNameCommand(kThreeByteChars)[3], 10);
}

TEST(ParameterCommands, AddressText) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"192.168.1.100", "C0 A8 01 64"},
        {"192.168.1.300", "C0 A8 01 00"},
        {"a.b.c.d", "00 00 00 00"},
        {" 192.168.1.1", "00 A8 01 01"},
        {"+10.0.0.1", "0A 00 00 01"},
        {"-0.0.0.1", "00 00 00 01"},
        {"-1.0.0.1", "00 00 00 01"},
        {"192..168.1.1", "C0 A8 01 01"},
        {".10.0.0.", "0A 00 00"},
        {"10.0.0", "0A 00 00"},
        {"", ""},
        {"...", ""},
        {"0255.1.1.1", "FF 01 01 01"},
        {"99999999999999999999.1", "00 01"},
    };
    for (auto [text, bytes] : cases) {
        EXPECT_EQ(hexText(ipTextToBytes(text)), bytes) << '"' << text << '"';
    }
}

TEST(WiFiCommand, Vectors) {
    expectVectors({
        {"abc no password", makeWiFiCommand("abc", ""),
         "1F 28 0F 0A 00 1F 77 03 61 62 63 01 01 00 0B"},
        {"both empty", makeWiFiCommand("", ""), "1F 28 0F 07 00 1F 77 00 01 01 00 68"},
    });
    EXPECT_EQ(makeWiFiCommand(kThreeByteChars, "")[7], 6);
    const auto largest = makeWiFiCommand(std::string(124, 's'), std::string(124, 'p'));
    EXPECT_EQ(largest[3], 0xFF);
    EXPECT_EQ(largest.size(), 260u);
    EXPECT_EQ(largest.back(), xorChecksum(largest.data() + 5, largest.data() + largest.size() - 1));
}

} // namespace
