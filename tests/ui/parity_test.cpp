// The window and printerctl are two faces of one core: for one table of inputs, the screens'
// models and printerctl's command line give the same bytes at the same times after the press,
// and the same refusal messages. (printerctl sends nothing at all for an input any step refuses:
// a script must not half-configure a printer; the screens keep their own order of events.)
#include "tests/support/manual_clock.hpp"
#include "tests/ui/serial_sheet.hpp"
#include "tools/printerctl/command_line.hpp"
#include "ui/basic_settings_model.hpp"
#include "ui/mqtt_settings_model.hpp"
#include "ui/network_settings_model.hpp"
#include "ui/wifi_settings_model.hpp"

#include "protocol/frame.hpp"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ui;
using namespace std::chrono_literals;

namespace {

using Trace = std::vector<std::string>; // "at:hex" per step sent, "refused: message"

class Parity : public testing_support::SerialSheet {
protected:
    void SetUp() override {
        SerialSheet::SetUp();
        for (SettingsScreenModel* screen :
             std::initializer_list<SettingsScreenModel*>{&basic, &network, &wifi, &mqtt}) {
            screen->setScheduler(clock.scheduler());
            QObject::connect(screen, &SettingsScreenModel::planStarted, screen,
                             [this](plans::PlanRun* run) { watch(run); });
            screen->setSettings(&sheet);
        }
    }

    void watch(plans::PlanRun* run) {
        QObject::connect(run, &plans::PlanRun::stepRefused, run, [this](int, const QString& m) {
            window.push_back("refused: " + m.toStdString());
        });
        QObject::connect(run, &plans::PlanRun::stepHandedOver, run, [this](int, qint64 size) {
            const auto at = (clock.now() - pressedAt).count();
            window.push_back(std::to_string(at) + ":" +
                             protocol::hexText(pty.read(static_cast<std::size_t>(size), 5s)));
        });
    }

    Trace windowTrace(const std::function<void()>& press) {
        window.clear();
        pressedAt = clock.now();
        press();
        clock.advanceBy(2s);
        return window;
    }

    static Trace printerctlTrace(std::vector<std::string> words) {
        words.insert(words.begin(), "--dry-run");
        const auto invocation = printerctl::parseCommandLine(words);
        Trace trace;
        if (const auto* error = std::get_if<printerctl::CommandLineError>(&invocation)) {
            for (const auto& line : QString::fromStdString(error->message).split('\n')) {
                trace.push_back("refused: " + line.toStdString());
            }
            return trace;
        }
        for (const auto& step : std::get<printerctl::SendRequest>(invocation).plan.steps) {
            trace.push_back(std::to_string(step.at.count()) + ":" +
                            protocol::hexText(*step.build().bytes));
        }
        return trace;
    }

    QString file(const QString& name, const QByteArray& data) {
        QFile out(dir.filePath(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(data);
        return out.fileName();
    }

    testing_support::ManualClock clock;
    std::chrono::milliseconds pressedAt{0};
    Trace window;
    QTemporaryDir dir;
    BasicSettingsModel basic;
    NetworkSettingsModel network;
    WiFiSettingsModel wifi;
    MQTTSettingsModel mqtt;
};

TEST_F(Parity, TheScreensAndPrinterctlSendAndRefuseAlike) {
    const QString pem =
        file("ca.pem", "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
    const QString der = file("device.crt", QByteArray("\x30\x82\x01\x0a", 4));
    const QString blank = file("blank.crt", " \n\t\n");
    const QString oversize = file("big.crt", QByteArray(65533, 'A'));
    const QString key = file("client.key", QByteArray(1200, 'k'));
    const QString bigPart = file("big.key", QByteArray(65536, 'k'));
    const std::string n60(60, 'u'), n59(59, 'p');
    const auto importInto = [this](int slot, const QString& path) {
        mqtt.mutualImportSlot = slot;
        mqtt.importFile(path);
    };
    struct Row {
        const char* name;
        std::vector<std::string> printerctl;
        std::function<void()> window;
        bool refused;
    };
    const std::vector<Row> rows = {
        {"basic defaults", {"basic"}, [&] { basic.set(); }, false},
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
         false},
        {"name",
         {"name", "Front desk"},
         [&] {
             sheet.printerName = "Front desk";
             network.setPrinterName();
         },
         false},
        {"name too long",
         {"name", std::string(252, 'n')},
         [&] {
             sheet.printerName = QString(252, 'n');
             network.setPrinterName();
         },
         true},
        {"ethernet static",
         {"ip", "ethernet", "static", "10.0.0.2", "255.255.255.0", "10.0.0.1"},
         [&] {
             sheet.staticIP = "10.0.0.2";
             sheet.subnet = "255.255.255.0";
             sheet.gateway = "10.0.0.1";
             network.setEthernetStaticIP();
         },
         false},
        {"wifi dhcp", {"ip", "wifi", "dhcp"}, [&] { network.setWiFiDynamicIP(); }, false},
        {"bad wifi address",
         {"ip", "wifi", "static", "10.0.0", "255.255.255.0", "10.0.0.1"},
         [&] {
             network.wifiStaticIP = "10.0.0";
             network.setWiFiStaticIP();
         },
         true},
        {"wifi credentials",
         {"wifi", "shop", "secret"},
         [&] {
             sheet.wifiName = "shop";
             sheet.wifiPassword = "secret";
             wifi.set();
         },
         false},
        {"wifi too long",
         {"wifi", std::string(200, 's'), std::string(49, 'p')},
         [&] {
             sheet.wifiName = QString(200, 's');
             sheet.wifiPassword = QString(49, 'p');
             wifi.set();
         },
         true},
        {"broker",
         {"mqtt", "broker", "--server", "10.0.0.5", "--port", "+1883", "--client-id", "t7"},
         [&] {
             sheet.setMqttServer("10.0.0.5");
             sheet.setMqttPort("+1883");
             sheet.setMqttClientId("t7");
             mqtt.setUseDefaultClientID(false);
             mqtt.applyBroker();
         },
         false},
        {"broker port 70000",
         {"mqtt", "broker", "--server", "10.0.0.5", "--port", "70000"},
         [&] {
             sheet.setMqttPort("70000");
             mqtt.setUseDefaultClientID(true);
             mqtt.applyBroker();
         },
         true},
        {"login 60/60",
         {"mqtt", "broker", "--server", "h", "--username", n60, "--password", n60},
         [&] {
             sheet.setMqttServer("h");
             sheet.setMqttPort("1883");
             sheet.setMqttUsername(QString::fromStdString(n60));
             sheet.setMqttPassword(QString::fromStdString(n60));
             mqtt.applyBroker();
         },
         true},
        {"login 60/59",
         {"mqtt", "broker", "--server", "h", "--username", n60, "--password", n59},
         [&] {
             sheet.setMqttPassword(QString::fromStdString(n59));
             mqtt.applyBroker();
         },
         false},
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
         false},
        {"timing",
         {"mqtt", "timing", "--timezone", "-5", "--ntp-server", "", "--keepalive", "1"},
         [&] {
             mqtt.setDateZone("-5");
             mqtt.setNtpServer("");
             mqtt.setKeepAliveInterval("1");
             mqtt.applyTiming();
         },
         false},
        {"odd heartbeat",
         {"mqtt", "timing", "--heartbeat", "2", "--keepalive", "7201"},
         [&] {
             mqtt.setHeartbeatInterval("2");
             mqtt.setKeepAliveInterval("7201");
             mqtt.applyTiming();
         },
         true},
        {"tls off",
         {"mqtt", "tls", "off"},
         [&] {
             mqtt.setTlsMode(0);
             mqtt.applyTls();
         },
         false},
        {"one-way pem",
         {"mqtt", "tls", "one-way", pem.toStdString()},
         [&] {
             mqtt.setTlsMode(1);
             importInto(0, pem);
             mqtt.applyTls();
         },
         false},
        {"one-way der",
         {"mqtt", "tls", "one-way", der.toStdString()},
         [&] {
             importInto(0, der);
             mqtt.applyTls();
         },
         false},
        {"one-way blank file",
         {"mqtt", "tls", "one-way", blank.toStdString()},
         [&] {
             importInto(0, blank);
             mqtt.applyTls();
         },
         true},
        {"one-way oversize",
         {"mqtt", "tls", "one-way", oversize.toStdString()},
         [&] {
             importInto(0, oversize);
             mqtt.applyTls();
         },
         true},
        {"mutual",
         {"mqtt", "tls", "mutual", pem.toStdString(), der.toStdString(), key.toStdString(),
          "--password", "pw"},
         [&] {
             mqtt.setTlsMode(2);
             importInto(1, pem);
             importInto(2, der);
             importInto(3, key);
             mqtt.mutualPassword = "pw";
             mqtt.applyTls();
         },
         false},
        {"mutual oversize part",
         {"mqtt", "tls", "mutual", pem.toStdString(), der.toStdString(), bigPart.toStdString()},
         [&] {
             importInto(3, bigPart);
             mqtt.mutualPassword = "";
             mqtt.applyTls();
         },
         true},
    };
    for (const Row& row : rows) {
        const Trace cli = printerctlTrace(row.printerctl);
        const Trace screen = windowTrace(row.window);
        ASSERT_FALSE(cli.empty()) << row.name;
        if (!row.refused) {
            EXPECT_EQ(screen, cli) << row.name;
            continue;
        }
        // The same messages; printerctl sends nothing, the screen what its other steps send.
        Trace screenRefusals;
        std::ranges::copy_if(screen, std::back_inserter(screenRefusals),
                             [](const std::string& line) { return line.starts_with("refused"); });
        EXPECT_EQ(screenRefusals, cli) << row.name;
        for (const auto& line : cli) {
            EXPECT_TRUE(line.starts_with("refused: ")) << row.name << ": " << line;
        }
    }
}

} // namespace
