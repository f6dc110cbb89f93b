// The settings screens' models over a real serial line (a pseudo-terminal), on a clock the test
// drives. One table of inputs runs through the screens and through printerctl's command line:
// the same bytes at the same times after the press, the same console lines and the same refusal
// messages (printerctl sends nothing at all for an input any step refuses: a script must not
// half-configure a printer). Then what only the screens do: their alerts, the defaults they fill
// in, the MQTT steps that outlive the sheet, and certificate import.
#include "tests/connection/console_capture.hpp"
#include "tests/support/manual_clock.hpp"
#include "tests/ui/serial_sheet.hpp"
#include "tools/printerctl/command_line.hpp"
#include "ui/basic_settings_model.hpp"
#include "ui/mqtt_settings_model.hpp"
#include "ui/network_settings_model.hpp"
#include "ui/wifi_settings_model.hpp"

#include "protocol/frame.hpp"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace ui;
using namespace std::chrono_literals;

namespace {

using Trace = std::vector<std::string>; // "at:hex" per step sent, "refused: message"

const QString kNotice = "MQTT settings updated, please restart the printer to apply the settings";

class Screens : public testing_support::SerialSheet {
protected:
    void SetUp() override {
        SerialSheet::SetUp();
        for (SettingsScreenModel* screen :
             std::initializer_list<SettingsScreenModel*>{&basic, &network, &wifi, &mqtt}) {
            watch(*screen);
            screen->setSettings(&sheet);
        }
    }

    void watch(SettingsScreenModel& screen) {
        screen.setScheduler(clock.scheduler());
        QObject::connect(
            &screen, &SettingsScreenModel::planStarted, &screen, [this](plans::PlanRun* run) {
                QObject::connect(run, &plans::PlanRun::stepRefused, run,
                                 [this](int, const QString& message) {
                                     window.push_back("refused: " + message.toStdString());
                                 });
                QObject::connect(run, &plans::PlanRun::stepHandedOver, run,
                                 [this](int, qint64 size) { received(size); });
            });
    }
    void received(qint64 size) {
        const auto bytes = pty.read(static_cast<std::size_t>(size), 5s);
        window.push_back(std::to_string((clock.now() - pressedAt).count()) + ":" +
                         protocol::hexText(bytes));
    }

    // What a press sends and refuses over the next two seconds, and the console lines it prints.
    std::pair<Trace, std::vector<std::string>> press(const std::function<void()>& action) {
        window.clear();
        const auto linesBefore = console.lines().size();
        pressedAt = clock.now();
        action();
        clock.advanceBy(2s);
        settle();
        return {window,
                {console.lines().begin() + static_cast<long>(linesBefore), console.lines().end()}};
    }

    // Every run has had its reports (the confirmations follow them).
    void settle() {
        EXPECT_TRUE(QTest::qWaitFor(
            [this] {
                return !basic.transferring() && !network.transferring() && !wifi.transferring() &&
                       !mqtt.transferring();
            },
            5000));
    }

    // printerctl's plan for the same input: its steps, and the console lines they print.
    static std::pair<Trace, std::vector<std::string>> printerctl(std::vector<std::string> words) {
        words.insert(words.begin(), "--dry-run");
        const auto invocation = printerctl::parseCommandLine(words);
        Trace trace;
        std::vector<std::string> lines;
        if (const auto* error = std::get_if<printerctl::CommandLineError>(&invocation)) {
            for (const auto& line : QString::fromStdString(error->message).split('\n')) {
                trace.push_back("refused: " + line.toStdString());
            }
            return {trace, lines};
        }
        for (const auto& step : std::get<printerctl::SendRequest>(invocation).plan.steps) {
            const auto bytes = *step.build().bytes;
            trace.push_back(std::to_string(step.at.count()) + ":" + protocol::hexText(bytes));
            if (!step.logPrefix.empty()) {
                lines.push_back(protocol::hexDumpLine(step.logPrefix, bytes));
            }
        }
        return {trace, lines};
    }

    QString file(const QString& name, const QByteArray& data) {
        QFile out(dir.filePath(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(data);
        return out.fileName();
    }
    void import(int slot, const QString& path) {
        mqtt.mutualImportSlot = slot;
        mqtt.importFile(path);
    }

    testing_support::ConsoleCapture console;
    testing_support::ManualClock clock;
    std::chrono::milliseconds pressedAt{0};
    Trace window;
    QTemporaryDir dir;
    BasicSettingsModel basic;
    NetworkSettingsModel network;
    WiFiSettingsModel wifi;
    MQTTSettingsModel mqtt;
};

TEST_F(Screens, SendAndRefuseAlikeWithPrinterctl) {
    const QString pem =
        file("ca.pem", "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
    const QString der = file("device.crt", QByteArray("\x30\x82\x01\x0a", 4));
    const QString blank = file("blank.crt", " \n\t\n");
    const QString oversize = file("big.crt", QByteArray(65533, 'A'));
    const QString key = file("client.key", QByteArray(1200, 'k'));
    const QString bigPart = file("big.key", QByteArray(65536, 'k'));
    const std::string n60(60, 'u'), n59(59, 'p');
    enum Alert { none, restart, refusal };
    struct Row {
        const char* name;
        std::vector<std::string> printerctl;
        std::function<void()> window;
        bool refused;
        SettingsScreenModel* screen;
        Alert alert; // what the screen shows at the end
    };
    const std::vector<Row> rows = {
        {"basic defaults", {"basic"}, [&] { basic.set(); }, false, &basic, none},
        {"basic edited",
         {"basic", "--baud", "9600", "--cutter", "off", "--density", "dark", "--font", "9x17",
          "--codepage", "0"},
         [&] {
             sheet.baudRate = 9600;
             sheet.cutterEnabled = false;
             sheet.density = 2;
             basic.useFont12x24 = false;
             basic.setLanguage(0);
             basic.set();
         },
         false,
         &basic,
         none},
        {"name, no console line",
         {"name", "Front desk"},
         [&] {
             sheet.printerName = "Front desk";
             network.setPrinterName();
         },
         false,
         &network,
         none},
        {"name too long",
         {"name", std::string(252, 'n')},
         [&] {
             sheet.printerName = QString(252, 'n');
             network.setPrinterName();
         },
         true,
         &network,
         refusal},
        {"ethernet static",
         {"ip", "ethernet", "static", "10.0.0.2", "255.255.255.0", "10.0.0.1"},
         [&] {
             sheet.staticIP = "10.0.0.2";
             sheet.subnet = "255.255.255.0";
             sheet.gateway = "10.0.0.1";
             network.setEthernetStaticIP();
         },
         false,
         &network,
         restart},
        {"ethernet dhcp",
         {"ip", "ethernet", "dhcp"},
         [&] { network.setEthernetDynamicIP(); },
         false,
         &network,
         restart},
        {"wifi dhcp",
         {"ip", "wifi", "dhcp"},
         [&] { network.setWiFiDynamicIP(); },
         false,
         &network,
         restart},
        {"wifi static, the screen's own texts",
         {"ip", "wifi", "static", "192.168.1.101", "255.255.255.0", "192.168.1.1"},
         [&] { network.setWiFiStaticIP(); },
         false,
         &network,
         restart},
        {"bad wifi address",
         {"ip", "wifi", "static", "10.0.0", "255.255.255.0", "10.0.0.1"},
         [&] {
             network.wifiStaticIP = "10.0.0";
             network.setWiFiStaticIP();
         },
         true,
         &network,
         refusal},
        {"wifi empty", {"wifi", "", ""}, [&] { wifi.set(); }, false, &wifi, restart},
        {"wifi credentials",
         {"wifi", "shop", "secret"},
         [&] {
             sheet.wifiName = "shop";
             sheet.wifiPassword = "secret";
             wifi.set();
         },
         false,
         &wifi,
         restart},
        {"wifi too long",
         {"wifi", std::string(200, 's'), std::string(49, 'p')},
         [&] {
             sheet.wifiName = QString(200, 's');
             sheet.wifiPassword = QString(49, 'p');
             wifi.set();
         },
         true,
         &wifi,
         refusal},
        {"broker",
         {"mqtt", "broker", "--server", "10.0.0.5", "--port", "+1883", "--client-id", "t7"},
         [&] {
             sheet.setMqttServer("10.0.0.5");
             sheet.setMqttPort("+1883");
             sheet.setMqttClientId("t7");
             mqtt.setUseDefaultClientID(false);
             mqtt.applyBroker();
         },
         false,
         &mqtt,
         restart},
        {"broker port 70000",
         {"mqtt", "broker", "--server", "10.0.0.5", "--port", "70000"},
         [&] {
             sheet.setMqttPort("70000");
             mqtt.setUseDefaultClientID(true);
             mqtt.applyBroker();
         },
         true,
         &mqtt,
         restart},
        {"login 60/60",
         {"mqtt", "broker", "--server", "h", "--username", n60, "--password", n60},
         [&] {
             sheet.setMqttServer("h");
             sheet.setMqttPort("1883");
             sheet.setMqttUsername(QString::fromStdString(n60));
             sheet.setMqttPassword(QString::fromStdString(n60));
             mqtt.applyBroker();
         },
         true,
         &mqtt,
         restart},
        {"login 60/59",
         {"mqtt", "broker", "--server", "h", "--username", n60, "--password", n59},
         [&] {
             sheet.setMqttPassword(QString::fromStdString(n59));
             mqtt.applyBroker();
         },
         false,
         &mqtt,
         restart},
        {"topics",
         {"mqtt", "topics", "--subscribe-source", "imei", "--publish-receipts", "on", "--qos", "2",
          "--heartbeat-topic", "", "--reply-topic", "done"},
         [&] {
             mqtt.setSelectedSubTopicType(2);
             mqtt.setPublishReceiptInfo(true);
             mqtt.setPubQos(2);
             mqtt.setHeartbeatPubTopic("");
             mqtt.setReceiptReplyTopic("done");
             mqtt.applyTopics();
         },
         false,
         &mqtt,
         restart},
        {"timing",
         {"mqtt", "timing", "--timezone", "-5", "--ntp-server", "", "--keepalive", "1"},
         [&] {
             mqtt.setDateZone("-5");
             mqtt.setNtpServer("");
             mqtt.setKeepAliveInterval("1");
             mqtt.applyTiming();
         },
         false,
         &mqtt,
         restart},
        {"odd heartbeat",
         {"mqtt", "timing", "--heartbeat", "2", "--keepalive", "7201"},
         [&] {
             mqtt.setHeartbeatInterval("2");
             mqtt.setKeepAliveInterval("7201");
             mqtt.applyTiming();
         },
         true,
         &mqtt,
         restart},
        {"tls off",
         {"mqtt", "tls", "off"},
         [&] {
             mqtt.setTlsMode(0);
             mqtt.applyTls();
         },
         false,
         &mqtt,
         restart},
        {"one-way pem",
         {"mqtt", "tls", "one-way", pem.toStdString()},
         [&] {
             mqtt.setTlsMode(1);
             import(0, pem);
             mqtt.applyTls();
         },
         false,
         &mqtt,
         restart},
        {"one-way der",
         {"mqtt", "tls", "one-way", der.toStdString()},
         [&] {
             import(0, der);
             mqtt.applyTls();
         },
         false,
         &mqtt,
         restart},
        {"one-way blank file",
         {"mqtt", "tls", "one-way", blank.toStdString()},
         [&] {
             import(0, blank);
             mqtt.applyTls();
         },
         true,
         &mqtt,
         restart},
        {"one-way oversize",
         {"mqtt", "tls", "one-way", oversize.toStdString()},
         [&] {
             import(0, oversize);
             mqtt.applyTls();
         },
         true,
         &mqtt,
         restart},
        {"mutual",
         {"mqtt", "tls", "mutual", pem.toStdString(), der.toStdString(), key.toStdString(),
          "--password", "pw"},
         [&] {
             mqtt.setTlsMode(2);
             import(1, pem);
             import(2, der);
             import(3, key);
             mqtt.mutualPassword = "pw";
             mqtt.applyTls();
         },
         false,
         &mqtt,
         restart},
        {"mutual oversize part",
         {"mqtt", "tls", "mutual", pem.toStdString(), der.toStdString(), bigPart.toStdString()},
         [&] {
             import(3, bigPart);
             mqtt.mutualPassword = "";
             mqtt.applyTls();
         },
         true,
         &mqtt,
         restart},
    };
    for (const Row& row : rows) {
        row.screen->setShowRestartAlert(false);
        row.screen->setShowRefusal(false);
        const auto [cli, cliLines] = printerctl(row.printerctl);
        const auto [screen, screenLines] = press(row.window);
        ASSERT_FALSE(cli.empty()) << row.name;
        if (!row.refused) {
            EXPECT_EQ(screen, cli) << row.name;
            EXPECT_EQ(screenLines, cliLines) << row.name;
        } else {
            // The same messages; printerctl sends nothing, the screen what its other steps send.
            Trace refusals;
            std::ranges::copy_if(screen, std::back_inserter(refusals),
                                 [](const std::string& line) { return line.starts_with("ref"); });
            EXPECT_EQ(refusals, cli) << row.name;
            EXPECT_TRUE(std::ranges::all_of(cli, [](const std::string& line) {
                return line.starts_with("refused: ");
            })) << row.name;
        }
        EXPECT_EQ(row.screen->showRestartAlert(), row.alert == restart) << row.name;
        EXPECT_EQ(row.screen->showRefusal(), row.alert == refusal) << row.name;
        if (row.alert == refusal) {
            EXPECT_EQ(row.screen->refusal().toStdString(), cli[0].substr(9)) << row.name;
        }
        if (row.screen == &mqtt) {
            // One alert: the last step's notice replaces an earlier step's message.
            const std::string& last = screen.back();
            EXPECT_EQ(mqtt.alertMessage().toStdString(),
                      last.starts_with("refused: ") ? last.substr(9) : kNotice.toStdString())
                << row.name;
        }
    }
    // A refusal keeps what was typed.
    EXPECT_EQ(sheet.printerName.size(), 252);
    EXPECT_EQ(network.wifiStaticIP, "10.0.0");
}

TEST_F(Screens, NetworkFillsOnlyEmptyEthernetTextsWhenShown) {
    PrinterSettingsModel fresh;
    fresh.subnet = "   "; // spaces are the user's, not empty
    NetworkSettingsModel screen;
    screen.setSettings(&fresh);
    EXPECT_EQ(fresh.staticIP, "192.168.1.100");
    EXPECT_EQ(fresh.subnet, "   ");
    EXPECT_EQ(fresh.gateway, "192.168.1.1");
    EXPECT_EQ(screen.wifiStaticIP, "192.168.1.101");
}

TEST_F(Screens, AnMqttErrorShowsAtOnceAndTheLastStepsNoticeReplacesIt) {
    sheet.setMqttPort("70000");
    pressedAt = clock.now();
    mqtt.applyBroker();
    EXPECT_TRUE(mqtt.showRestartAlert());
    EXPECT_EQ(mqtt.alertMessage(), "Please enter a valid server address and port");
    clock.advanceBy(449ms);
    EXPECT_EQ(window.size(), 1u);
    clock.advanceBy(1ms);
    EXPECT_EQ(window.back(), "450:1F 28 54 04 00 43 00 00 00");
    settle(); // the notice follows the printer's report
    EXPECT_EQ(mqtt.alertMessage(), kNotice);
    // Both wait in the window's queue, the error first: the notice does not replace it.
    auto* alerts = content->alerts();
    EXPECT_EQ(alerts->message(), "Please enter a valid server address and port");
    alerts->dismiss();
    EXPECT_EQ(alerts->message(), kNotice);
    alerts->dismiss();
    EXPECT_FALSE(alerts->showing());
    EXPECT_FALSE(mqtt.showRestartAlert());

    mqtt.setShowRestartAlert(false);
    mqtt.setHeartbeatInterval("2");
    mqtt.applyTiming();
    EXPECT_EQ(mqtt.alertMessage(), "Heartbeat interval must be 0 or 3...7200");
    clock.advanceBy(749ms);
    EXPECT_EQ(mqtt.alertMessage(), "Heartbeat interval must be 0 or 3...7200");
    clock.advanceBy(1ms);
    settle();
    EXPECT_EQ(mqtt.alertMessage(), kNotice);
}

// The confirmation means the printer has the commands: without a link, the screen says how far
// it got instead, and never both.
TEST_F(Screens, ASendThatFailsShowsHowFarItGotInsteadOfTheConfirmation) {
    content->usbSerialManager().disconnect();
    press([&] { wifi.set(); });
    EXPECT_FALSE(wifi.showRestartAlert());
    auto* alerts = content->alerts();
    std::vector<std::pair<QString, QString>> shown;
    while (alerts->showing()) {
        shown.emplace_back(alerts->title(), alerts->message());
        alerts->dismiss();
    }
    const std::vector<std::pair<QString, QString>> expected = {
        {"USB", "USB printer not connected"},
        {"Not Sent", "0 of 1 commands reached the printer.\nUSB printer not connected"}};
    EXPECT_EQ(shown, expected);
}

// Steps still due when the sheet closes keep running, reading the values they were left with.
TEST_F(Screens, MqttStepsOutliveTheScreenAndTheSheet) {
    auto leavingSheet = std::make_unique<PrinterSettingsModel>();
    leavingSheet->setContent(content.get());
    leavingSheet->setConnectionType("usb");
    auto leaving = std::make_unique<MQTTSettingsModel>();
    watch(*leaving);
    leaving->setSettings(leavingSheet.get());
    leaving->setPubQos(2);
    leavingSheet->setMqttClientId("till-9");
    leaving->setUseDefaultClientID(false);
    const auto [sent, lines] = press([&] {
        leaving->applyTopics();
        leaving->applyBroker();
        leaving.reset();
        leavingSheet.reset();
    });
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(lines.size(), 8u);
    EXPECT_EQ(sent[3], "300:" + protocol::hexText(*protocol::makeLoginCommand("test", "pass")));
    EXPECT_EQ(sent[4], "450:" + protocol::hexText(protocol::makeClientIdCommand("till-9")));
    EXPECT_EQ(sent[5], "500:" + protocol::hexText(protocol::makePublishQoSCommand(2)));
}

TEST_F(Screens, TlsModesMoveThePortAndImportsFillTheirSlots) {
    struct PortCase {
        int mode;
        QString before, after;
    };
    for (const auto& c :
         {PortCase{1, "1883", "8883"}, PortCase{0, "8883", "1883"}, PortCase{2, "", "8883"},
          PortCase{0, "8000", "8000"}, PortCase{1, "8000", "8000"}}) {
        mqtt.setTlsMode(c.mode == 0 ? 1 : 0); // leave the mode so the change below runs
        sheet.setMqttPort(c.before);
        mqtt.setTlsMode(c.mode);
        EXPECT_EQ(sheet.mqttPort(), c.after) << c.mode << " " << c.before.toStdString();
    }

    mqtt.setTlsMode(1);
    EXPECT_FALSE(mqtt.tlsApplyEnabled());
    import(0, file("device.crt", QByteArray("\x30\x82\x01\x0a", 4)));
    EXPECT_TRUE(mqtt.certificatePEM.startsWith("-----BEGIN CERTIFICATE-----\nMIIBCg==\n"));
    EXPECT_TRUE(mqtt.tlsApplyEnabled());
    mqtt.setTlsMode(2);
    EXPECT_FALSE(mqtt.tlsApplyEnabled());
    EXPECT_EQ(mqtt.mutualFileLabel(1), "No file selected");
    for (int slot = 1; slot <= 3; ++slot) {
        import(slot, file(QStringLiteral("f%1.crt").arg(slot), QByteArray(1200, char('a' + slot))));
    }
    EXPECT_EQ(mqtt.mutualFileLabel(1), QStringLiteral("f1.crt \u00B7 1200 B"));
    EXPECT_TRUE(mqtt.tlsApplyEnabled());

    // Refused at import, with the slot left as it was.
    const std::pair<std::function<void()>, QString> refused[] = {
        {[&] { import(1, dir.filePath("missing.crt")); },
         "Failed to import file: No such file or directory"},
        {[&] { import(1, dir.path()); },
         "Failed to import file: " + QFileInfo(dir.path()).fileName() + " is not a regular file"},
        {[&] { mqtt.importFailed("Cancelled"); }, "Import cancelled or failed: Cancelled"},
    };
    for (const auto& [action, message] : refused) {
        action();
        EXPECT_EQ(mqtt.alertMessage(), message);
    }
    EXPECT_EQ(mqtt.mutualFileLabel(1), QStringLiteral("f1.crt \u00B7 1200 B"));
}

} // namespace
