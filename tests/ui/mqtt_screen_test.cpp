// The MQTT screen's Apply sequences on a clock the test drives: what reaches the printer over a
// real serial line and when, the console lines, the one alert and its texts, the TLS rules and
// certificate import.
#include "tests/connection/console_capture.hpp"
#include "tests/support/hex.hpp"
#include "tests/support/manual_clock.hpp"
#include "tests/ui/serial_sheet.hpp"
#include "ui/mqtt_settings_model.hpp"

#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

using namespace ui;
using namespace std::chrono_literals;

namespace {

class MqttScreen : public testing_support::SerialSheet {
protected:
    void SetUp() override {
        SerialSheet::SetUp();
        screen.setScheduler(clock.scheduler());
        screen.setSettings(&sheet);
        linesBefore = console.lines().size();
    }

    // Runs the steps due `ms` after the last press and returns what reached the printer
    // meanwhile.
    protocol::Bytes at(int ms, std::size_t expected) {
        advance(ms);
        return pty.read(expected, 5s);
    }
    void press() { pressedAt = clock.now(); }
    void advance(int ms) { clock.advanceTo(pressedAt + std::chrono::milliseconds(ms)); }
    std::vector<std::string> mqttLines() const {
        return {console.lines().begin() + static_cast<long>(linesBefore), console.lines().end()};
    }

    testing_support::ConsoleCapture console;
    std::size_t linesBefore = 0;
    testing_support::ManualClock clock;
    std::chrono::milliseconds pressedAt{0};
    MQTTSettingsModel screen;
};

const QString kNotice = "MQTT settings updated, please restart the printer to apply the settings";

TEST_F(MqttScreen, BrokerWithABadPortStillEndsWithTheClientIdAndTheNotice) {
    sheet.setMqttPort("70000");
    screen.applyBroker();
    EXPECT_TRUE(screen.showRestartAlert());
    EXPECT_EQ(screen.alertMessage(), "Please enter a valid server address and port");
    EXPECT_TRUE(pty.staysQuiet(50ms));
    const auto clientId = testing_support::hex("1F 28 54 04 00 43 00 00 00");
    EXPECT_EQ(at(450, clientId.size()), clientId);
    EXPECT_EQ(screen.alertMessage(), kNotice);
    EXPECT_EQ(mqttLines(),
              std::vector<std::string>{protocol::hexDumpLine("发送MQTT命令: ", clientId)});
}

TEST_F(MqttScreen, BrokerSendsAddressThenTheLoginOfThePressThenTheClientId) {
    sheet.setMqttServer("10.0.0.5");
    sheet.setMqttPort("+1883");
    screen.setUseDefaultClientID(false);
    const auto address = protocol::makeBrokerAddressCommand("10.0.0.5", 1883);
    const auto login = *protocol::makeLoginCommand("test", "pass");
    screen.applyBroker();
    EXPECT_EQ(pty.read(address.size(), 5s), address);
    sheet.setMqttUsername("changed after the press");
    sheet.setMqttClientId("till-7"); // read when its step runs
    advance(299);
    EXPECT_TRUE(pty.staysQuiet(50ms));
    EXPECT_EQ(at(300, login.size()), login);
    EXPECT_FALSE(screen.showRestartAlert());
    const auto clientId = protocol::makeClientIdCommand(std::string_view("till-7"));
    EXPECT_EQ(at(450, clientId.size()), clientId);
    EXPECT_EQ(screen.alertMessage(), kNotice);
    EXPECT_TRUE(screen.showRestartAlert());
}

TEST_F(MqttScreen, BrokerValidationRows) {
    struct Row {
        QString server, port, username, password;
        bool addressSent;
        bool loginSent;
        QString firstMessage; // empty: none before the notice
    };
    const QString n60(60, QLatin1Char('u')), n59(59, QLatin1Char('p'));
    const Row rows[] = {
        {"10.0.0.5", "0", "test", "pass", true, true, ""},
        {"10.0.0.5", " 1883", "test", "pass", false, false,
         "Please enter a valid server address and port"},
        {"", "1883", "test", "pass", false, false, "Please enter a valid server address and port"},
        {"10.0.0.5", "1883", n60, n60, true, false, "Username/password too long (max 60 each)"},
        {"10.0.0.5", "1883", n60, n59, true, true, ""},
    };
    for (const Row& row : rows) {
        sheet.setMqttServer(row.server);
        sheet.setMqttPort(row.port);
        sheet.setMqttUsername(row.username);
        sheet.setMqttPassword(row.password);
        screen.setShowRestartAlert(false);
        press();
        const auto before = mqttLines().size();
        screen.applyBroker();
        EXPECT_EQ(screen.showRestartAlert(), !row.firstMessage.isEmpty()) << row.port.toStdString();
        if (!row.firstMessage.isEmpty()) {
            EXPECT_EQ(screen.alertMessage(), row.firstMessage);
        }
        advance(450);
        const auto sent = mqttLines().size() - before;
        EXPECT_EQ(sent, 1u + (row.addressSent ? 1 : 0) + (row.loginSent ? 1 : 0))
            << row.port.toStdString() << " " << row.username.size();
        EXPECT_EQ(screen.alertMessage(), kNotice); // the client ID's notice always ends it
    }
}

TEST_F(MqttScreen, TopicsAndTimingStepEvery250Milliseconds) {
    screen.setPubQos(2);
    screen.applyTopics();
    const std::pair<int, protocol::Bytes> topics[] = {
        {0, protocol::makeSubscribeSourceCommand(0)},
        {250, protocol::makeReceiptPublishCommand(false)},
        {500, protocol::makePublishQoSCommand(2)},
        {750,
         protocol::makeTopicCommand(protocol::mqtt::heartbeatTopic, std::string_view("HearBeat"))},
        {1000, protocol::makeTopicCommand(protocol::mqtt::receiptReplyTopic,
                                          std::string_view("PrintSuccess"))},
    };
    for (const auto& [when, frame] : topics) {
        EXPECT_FALSE(screen.showRestartAlert()) << when;
        EXPECT_EQ(at(when, frame.size()), frame) << when;
    }
    EXPECT_TRUE(screen.showRestartAlert());

    // A failing step shows its message; the later ones still go out and the notice replaces it.
    screen.setShowRestartAlert(false);
    press();
    screen.setHeartbeatInterval("2");
    screen.setDateZone("-5");
    screen.applyTiming();
    EXPECT_EQ(screen.alertMessage(), "Heartbeat interval must be 0 or 3...7200");
    const auto keepAlive = protocol::makeKeepAliveCommand(30);
    EXPECT_EQ(at(250, keepAlive.size()), keepAlive);
    const auto clock500 = protocol::makeClockCommand("pool.ntp.org", 0);
    EXPECT_EQ(at(500, clock500.size()), clock500);
    const auto dns = protocol::makeDNSTestCommand("www.example.com");
    EXPECT_EQ(at(750, dns.size()), dns);
    EXPECT_EQ(screen.alertMessage(), kNotice);
}

TEST_F(MqttScreen, StepsStillRunAfterTheScreenCloses) {
    auto* leaving = new MQTTSettingsModel;
    leaving->setScheduler(clock.scheduler());
    leaving->setSettings(&sheet);
    leaving->setPubQos(2);
    sheet.setMqttClientId("till-9");
    leaving->setUseDefaultClientID(false);
    leaving->applyTopics();
    leaving->applyBroker();
    delete leaving; // the sheet closed a moment after the press
    const auto qos = protocol::makePublishQoSCommand(2);
    const auto subscribe = protocol::makeSubscribeSourceCommand(0);
    const auto address = protocol::makeBrokerAddressCommand("203.0.113.10", 1883);
    const auto receipt = protocol::makeReceiptPublishCommand(false);
    const auto login = *protocol::makeLoginCommand("test", "pass");
    const auto clientId = protocol::makeClientIdCommand(std::string_view("till-9"));
    protocol::Bytes both = subscribe;
    both.insert(both.end(), address.begin(), address.end());
    EXPECT_EQ(pty.read(both.size(), 5s), both);
    EXPECT_EQ(at(250, receipt.size()), receipt);
    EXPECT_EQ(at(300, login.size()), login);
    EXPECT_EQ(at(450, clientId.size()), clientId);
    EXPECT_EQ(at(500, qos.size()), qos);
    advance(1000);
    EXPECT_EQ(mqttLines().size(), 8u);
}

TEST_F(MqttScreen, TlsModesPortAndImports) {
    struct PortCase {
        int mode;
        QString before, after;
    };
    const PortCase ports[] = {{1, "1883", "8883"},
                              {0, "8883", "1883"},
                              {2, "", "8883"},
                              {0, "8000", "8000"},
                              {1, "8000", "8000"}};
    for (const auto& c : ports) {
        screen.setTlsMode(c.mode == 0 ? 1 : 0); // leave the mode so the change below runs
        sheet.setMqttPort(c.before);
        screen.setTlsMode(c.mode);
        EXPECT_EQ(sheet.mqttPort(), c.after) << c.mode << " " << c.before.toStdString();
    }

    QTemporaryDir dir;
    const auto write = [&](const QString& name, const QByteArray& data) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(data);
        return file.fileName();
    };
    screen.setTlsMode(1);
    EXPECT_FALSE(screen.tlsApplyEnabled());
    screen.mutualImportSlot = 0;
    screen.importFile(write("device.crt", QByteArray("\x30\x82\x01\x0a", 4)));
    EXPECT_TRUE(screen.certificatePEM.startsWith("-----BEGIN CERTIFICATE-----\nMIIBCg==\n"));
    EXPECT_TRUE(screen.tlsApplyEnabled());

    screen.setTlsMode(2);
    EXPECT_FALSE(screen.tlsApplyEnabled());
    EXPECT_EQ(screen.mutualFileLabel(1), "No file selected");
    for (int slot = 1; slot <= 3; ++slot) {
        screen.mutualImportSlot = slot;
        screen.importFile(
            write(QStringLiteral("f%1.crt").arg(slot), QByteArray(1200, char('a' + slot))));
    }
    EXPECT_EQ(screen.mutualFileLabel(1), QStringLiteral("f1.crt \u00B7 1200 B"));
    EXPECT_TRUE(screen.tlsApplyEnabled());
    const auto mutual = protocol::makeMutualTLSCommand(screen.mutualFile(1), screen.mutualFile(2),
                                                       screen.mutualFile(3), "");
    screen.applyTls();
    EXPECT_EQ(pty.read(mutual.size(), 5s), mutual);
    EXPECT_EQ(screen.alertMessage(), kNotice);

    // Refused at import: too large (never read whole), unreadable, and the chooser's own error.
    const QString big = dir.filePath("big.pem");
    {
        QFile file(big);
        file.open(QIODevice::WriteOnly);
        file.resize(MQTTSettingsModel::kImportLimit + 1);
    }
    screen.importFile(big);
    EXPECT_TRUE(
        screen.alertMessage().startsWith("Failed to import file: the file is larger than 1 MiB"));
    screen.importFile(dir.filePath("missing.crt"));
    EXPECT_TRUE(screen.alertMessage().startsWith("Failed to import file: "));
    screen.importFailed("Cancelled");
    EXPECT_EQ(screen.alertMessage(), "Import cancelled or failed: Cancelled");
    EXPECT_EQ(screen.mutualFileLabel(1), QStringLiteral("f1.crt \u00B7 1200 B"));
}

TEST_F(MqttScreen, OversizedCertificatesAreRefusedAndNothingIsSent) {
    screen.setTlsMode(1);
    screen.certificatePEM = QString(65533, QLatin1Char('A'));
    screen.applyTls();
    EXPECT_EQ(screen.alertMessage(), "Certificate too large (max 65532 bytes)");
    EXPECT_TRUE(pty.staysQuiet(100ms));
    EXPECT_TRUE(mqttLines().empty());
}

} // namespace
