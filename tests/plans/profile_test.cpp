// Profiles: the bytes a profile sends are those of printerctl's commands for the same values (and
// so, through the screens' parity table, the window's), spaced as the screens space them; every
// problem is refused with its key before anything is sent; files keep their passwords private.
#include "plans/profile.hpp"
#include "protocol/frame.hpp"
#include "tools/printerctl/command_line.hpp"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace plans;

namespace {

const std::string kPem = "-----BEGIN CERTIFICATE-----\nMIIBszCCAVmgAwIBAgIU\n-----END "
                         "CERTIFICATE-----\n";

std::string profileText(const std::string& body) {
    return R"({"format": "printer-config profile", "version": 1)" +
           (body.empty() ? "" : ", " + body) + "}";
}

// Every section, with values other than the defaults wherever a default would hide a mistake.
std::string fullProfile() {
    const QString pem = QString::fromStdString(kPem).replace("\n", "\\n");
    return profileText(
        R"("basic": {"baud": 9600, "cutter": false, "beeper": true, "density": "dark",
                     "font": "9x17", "codepage": "CP437 [US, European Standard]"},
           "name": "Front desk", "ethernet": {"dhcp": true},
           "wifiAddress": {"address": "192.168.1.100", "mask": "255.255.255.0",
                           "gateway": "192.168.1.1"},
           "wifi": {"ssid": "shop", "password": "secret"},
           "mqtt": {"broker": {"server": "broker.example", "port": "1884", "username": "u",
                               "password": "p", "clientId": "till-7"},
                    "topics": {"subscribeSource": "mac", "publishReceipts": true, "qos": 2,
                               "heartbeatTopic": "hb", "replyTopic": "done"},
                    "timing": {"heartbeat": "45", "keepalive": "60", "ntpServer": "ntp.example",
                               "timezone": "+3", "testUrl": "www.example.org"},
                    "tls": {"mode": "mutual", "ca": ")" +
        pem.toStdString() + R"(", "clientCertificate": ")" + pem.toStdString() +
        R"(", "clientKey": "KEY", "password": "pw"}})");
}

Profile parsed(const std::string& text) {
    auto result = parseProfile(QByteArray::fromStdString(text));
    if (const auto* problems = std::get_if<QStringList>(&result)) {
        ADD_FAILURE() << problems->join("\n").toStdString();
        return {};
    }
    return std::get<Profile>(result);
}

std::vector<std::string> hexLines(const Plan& plan) {
    std::vector<std::string> lines;
    for (const Step& step : plan.steps) {
        const StepResult result = step.build();
        lines.push_back(result.bytes ? protocol::hexText(*result.bytes) : "refused");
    }
    return lines;
}

} // namespace

TEST(Profiles, SendWhatPrinterctlSendsForTheSameValuesSpacedAsTheScreens) {
    QTemporaryDir dir;
    const QString pemPath = dir.filePath("c.pem"), keyPath = dir.filePath("k.key");
    {
        QFile pem(pemPath), key(keyPath);
        ASSERT_TRUE(pem.open(QIODevice::WriteOnly) && key.open(QIODevice::WriteOnly));
        pem.write(kPem.c_str());
        key.write("KEY");
    }
    const std::vector<std::vector<std::string>> commands = {
        {"basic", "--baud", "9600", "--cutter", "off", "--density", "dark", "--font", "9x17",
         "--codepage", "CP437 [US, European Standard]"},
        {"name", "Front desk"},
        {"ip", "ethernet", "dhcp"},
        {"ip", "wifi", "static", "192.168.1.100", "255.255.255.0", "192.168.1.1"},
        {"wifi", "shop", "secret"},
        {"mqtt", "broker", "--server", "broker.example", "--port", "1884", "--username", "u",
         "--password", "p", "--client-id", "till-7"},
        {"mqtt", "topics", "--subscribe-source", "mac", "--publish-receipts", "on", "--qos", "2",
         "--heartbeat-topic", "hb", "--reply-topic", "done"},
        {"mqtt", "timing", "--heartbeat", "45", "--keepalive", "60", "--ntp-server", "ntp.example",
         "--timezone", "+3", "--test-url", "www.example.org"},
        {"mqtt", "tls", "mutual", pemPath.toStdString(), pemPath.toStdString(),
         keyPath.toStdString(), "--password", "pw"},
    };
    std::vector<std::string> expected;
    for (const auto& command : commands) {
        const auto invocation = printerctl::parseCommandLine(command);
        const auto* send = std::get_if<printerctl::SendRequest>(&invocation);
        ASSERT_NE(send, nullptr) << command[0];
        for (const auto& line : hexLines(send->plan)) {
            expected.push_back(line);
        }
    }
    const ProfilePlan plan = profilePlan(parsed(fullProfile()));
    EXPECT_EQ(hexLines(plan.plan), expected);

    // Each section with its own spacing, 0.25 s after the last command of the one before; one
    // confirmation, at the very end.
    const std::vector<long> times = {0,    250,  500,  750,  1000, 1250, 1550, 1700, 1950,
                                     2200, 2450, 2700, 2950, 3200, 3450, 3700, 3950, 4200};
    std::vector<long> at;
    std::vector<std::string> confirming;
    for (std::size_t i = 0; i < plan.plan.steps.size(); ++i) {
        at.push_back(static_cast<long>(plan.plan.steps[i].at.count()));
        if (plan.plan.steps[i].confirms) {
            confirming.push_back(plan.stepSection[i]);
        }
    }
    EXPECT_EQ(at, times);
    EXPECT_EQ(confirming, std::vector<std::string>{"mqtt.tls"});
    EXPECT_EQ(plan.stepSection[6], "mqtt.broker");

    // Written and read again, the profile sends the same.
    const auto json = profileJson(parsed(fullProfile()));
    ASSERT_TRUE(std::holds_alternative<QByteArray>(json));
    EXPECT_EQ(hexLines(profilePlan(parsed(std::get<QByteArray>(json).toStdString())).plan),
              expected);
    // A profile of nothing sends nothing.
    EXPECT_TRUE(profilePlan(parsed(profileText(""))).plan.steps.empty());
}

TEST(Profiles, EveryProblemIsRefusedWithItsKey) {
    const std::string longName(300, 'n');
    const std::string tooLarge(70'000, 'A');
    const struct {
        std::string text;
        std::vector<std::string> problems;
    } cases[] = {
        {profileText(R"("mqtt": {"timing": {"keepAlive": "60"}})"),
         {"unknown key mqtt.timing.keepAlive"}},
        {profileText(R"("basic": {"baud": "fast", "cutter": 1, "font": "8x8"})"),
         {"basic.baud: expected a whole number 0...1000000", "basic.cutter: expected true or false",
          "basic.font: expected one of \"12x24\", \"9x17\""}},
        {profileText(R"("basic": {"baud": 1234, "codepage": "Klingon"})"),
         {"basic.baud: expected one of 4800, 9600, 19200, 38400, 57600, 115200, 230400, 256000",
          "basic.codepage: no codepage is titled \"Klingon\""}},
        {profileText(R"("name": ")" + longName + "\""),
         {"name: " + refusals(printerNamePlan(longName)).at(0)}},
        {profileText(R"("wifiAddress": {"address": "300.1.1.1", "mask": "255.255.255.0",
                                        "gateway": "192.168.1.1"})"),
         {"wifiAddress: " +
          refusals(ipPlan(true, {false, "300.1.1.1", "255.255.255.0", "192.168.1.1"})).at(0)}},
        {profileText(R"("ethernet": {"dhcp": true, "address": "10.0.0.2"}, "wifi": {"ssid": "x"})"),
         {"ethernet: an address, mask or gateway goes with \"dhcp\": false",
          "wifi.password: missing"}},
        {profileText(R"("mqtt": {"broker": {"server": "b", "port": "99999"},
                                 "topics": {"qos": 3}, "timing": {"heartbeat": "2"}})"),
         {"mqtt.topics.qos: expected a whole number 1...2"}},
        {profileText(R"("mqtt": {"broker": {"server": "b", "port": "99999"},
                                 "timing": {"heartbeat": "2"}})"),
         {"mqtt.broker: Please enter a valid server address and port",
          "mqtt.timing: Heartbeat interval must be 0 or 3...7200"}},
        {profileText(R"("mqtt": {"tls": {"mode": "one-way"}})"), {"mqtt.tls.certificate: missing"}},
        {profileText(R"("mqtt": {"tls": {"mode": "mutual", "ca": ")" + tooLarge +
                     R"(", "clientCertificate": "c", "clientKey": "k"}})"),
         {"mqtt.tls: " + refusals(mutualTlsPlan(protocol::Bytes(tooLarge.begin(), tooLarge.end()),
                                                {'c'}, {'k'}, ""))
                             .at(0)}},
        {R"({"version": 2, "wifi": []})",
         {"format: expected \"printer-config profile\"", "version: expected 1",
          "wifi: expected an object"}},
        // Qt keeps the last of two equal keys: the file would say one thing and send another.
        {profileText(R"("wifi": {"ssid": "a", "password": "b"}, "wifi": {"ssid": "c",
                        "password": "d"}, "n\u0061me": "x", "name": "y",
                        "mqtt": {"broker": {"server": "b", "port": "1", "port": "2"}})"),
         {"duplicate key wifi", "duplicate key name", "duplicate key mqtt.broker.port"}},
        // Out of every integer's range: refused without an undefined cast.
        {profileText(R"("basic": {"baud": -1e300, "codepage": 9223372036854775808},
                        "mqtt": {"topics": {"qos": 1e300}})"),
         {"basic.baud: expected a whole number 0...1000000",
          "basic.codepage: expected a whole number 0...255",
          "mqtt.topics.qos: expected a whole number 1...2"}},
        {"[1]", {"a profile is one JSON object"}},
        {profileText("\"name\": \"caf\xe9\""), {"the profile is not UTF-8 text"}},
        {"{\"name\": \n  tru}", {"not JSON: illegal value at line 2, column 4"}},
        {std::string(kProfileLimit + 1, ' '), {"the profile is larger than 1 MiB"}},
    };
    for (const auto& c : cases) {
        auto result = parseProfile(QByteArray::fromStdString(c.text));
        const auto* problems = std::get_if<QStringList>(&result);
        ASSERT_NE(problems, nullptr) << c.text.substr(0, 200);
        std::vector<std::string> got;
        for (const QString& problem : *problems) {
            got.push_back(problem.toStdString());
        }
        EXPECT_EQ(got, c.problems) << c.text.substr(0, 200);
    }
}

TEST(Profiles, FilesAreTheOwnersOnlyAndReplacedWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("shop.json");
    // An older profile others could read is replaced, and the new one is the owner's only.
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    ::chmod(path.toLocal8Bit().constData(), 0644);
    const QByteArray json = std::get<QByteArray>(profileJson(parsed(fullProfile())));
    ASSERT_EQ(writeProfileFile(path, json), std::nullopt);
    struct stat info {};
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"shop.json"});

    auto loaded = readProfileFile(path);
    ASSERT_TRUE(std::holds_alternative<LoadedProfile>(loaded));
    EXPECT_TRUE(std::get<LoadedProfile>(loaded).warning.isEmpty());
    ::chmod(path.toLocal8Bit().constData(), 0640);
    loaded = readProfileFile(path);
    EXPECT_TRUE(std::get<LoadedProfile>(loaded).warning.contains("can be read by other users"));

    // Nothing is written into a folder that is not there; a folder is not a profile.
    EXPECT_NE(writeProfileFile(dir.filePath("missing/shop.json"), json), std::nullopt);
    EXPECT_EQ(std::get<QStringList>(readProfileFile(dir.path())).value(0),
              dir.path() + " is a folder");

    // A mutual TLS file that is not text cannot be stored as PEM text.
    Profile binary;
    binary.tls = TlsSettings{TlsSettings::Mode::mutual, {}, "\x30\x82\xff", "c", "k", ""};
    EXPECT_EQ(std::get<QString>(profileJson(binary)),
              "mqtt.tls.ca: the file is not text; a profile stores certificates and keys as PEM "
              "text");
}
