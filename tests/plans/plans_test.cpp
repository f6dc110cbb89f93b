// The command plans both faces run: what each screen action sends, when, with which console
// line, and what it refuses; the certificate files they read; and the runner that executes a
// plan on a real transport.
#include "plans/certificate_file.hpp"
#include "plans/mqtt_plans.hpp"
#include "plans/plan_run.hpp"
#include "plans/screen_plans.hpp"
#include "protocol/frame.hpp"
#include "tests/connection/console_capture.hpp"
#include "tests/support/manual_clock.hpp"

#include "connection/network_manager.hpp"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace plans;
using namespace std::chrono_literals;
using protocol::Bytes;

namespace {

// A plan as "at:hex" lines ("at:refused: message"), "!" marking the confirmation.
std::vector<std::string> describe(const Plan& plan) {
    std::vector<std::string> lines;
    for (const Step& step : plan.steps) {
        const StepResult result = step.build();
        lines.push_back(
            std::to_string(step.at.count()) + ":" +
            (result.bytes ? protocol::hexText(*result.bytes) : "refused: " + result.refusal) +
            (step.confirms ? "!" : ""));
    }
    return lines;
}

TEST(MqttPlans, Broker) {
    BrokerFields fields;
    fields.server = "192.168.1.87";
    fields.username = "user";
    fields.password = "secret";
    fields.clientId = "ignored";
    const auto plan = [&fields] { return brokerPlan([fields] { return fields; }); };
    EXPECT_EQ(describe(plan()),
              (std::vector<std::string>{
                  "0:1F 28 54 10 00 53 31 39 32 2E 31 36 38 2E 31 2E 38 37 00 07 5B",
                  "300:1F 28 51 0B 00 75 73 65 72 00 73 65 63 72 65 74",
                  "450:1F 28 54 04 00 43 00 00 00!"}));
    for (const Step& step : plan().steps) {
        EXPECT_EQ(step.logPrefix, "发送MQTT命令: ");
        EXPECT_TRUE(step.logFirst);
    }

    // A bad port or no server: the message, then the client ID alone at 0.45 s.
    for (const auto& [server, port] : std::vector<std::pair<std::string, std::string>>{
             {"h", "70000"}, {"h", " 1883"}, {"h", ""}, {"h", "-1"}, {"h", "abc"}, {"", "1883"}}) {
        fields.server = server;
        fields.port = port;
        EXPECT_EQ(describe(plan()), (std::vector<std::string>{
                                        "0:refused: Please enter a valid server address and port",
                                        "450:1F 28 54 04 00 43 00 00 00!"}))
            << port;
    }
    fields.server = "192.168.1.87";
    for (const auto& [port, value] :
         std::vector<std::pair<std::string, int>>{{"+1883", 1883}, {"0", 0}}) {
        fields.port = port;
        EXPECT_EQ(
            plan().steps[0].build().bytes,
            protocol::makeBrokerAddressCommand("192.168.1.87", static_cast<std::uint16_t>(value)));
    }

    // Login refused (60 + 60 bytes; 60 + 59 passes): broker at once, client ID at 0.45 s.
    fields.port = "1883";
    fields.username = std::string(60, 'u');
    fields.password = std::string(60, 'p');
    fields.useDefaultClientID = false;
    fields.clientId = "printer01";
    const auto refused = describe(plan());
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[1], "0:refused: Username/password too long (max 60 each)");
    EXPECT_EQ(refused[2],
              "450:" + protocol::hexText(protocol::makeClientIdCommand("printer01")) + "!");
    fields.password = std::string(59, 'p');
    EXPECT_TRUE(refusals(plan()).empty());
}

TEST(MqttPlans, StepsReadTheirFieldsWhenTheyRunButTheLoginIsThatOfThePress) {
    auto fields = std::make_shared<BrokerFields>();
    fields->server = "h";
    const Plan plan = brokerPlan([fields] { return *fields; });
    fields->username = "later";
    fields->useDefaultClientID = false;
    fields->clientId = "till-7";
    EXPECT_EQ(plan.steps[1].build().bytes, protocol::makeLoginCommand("test", "pass"));
    EXPECT_EQ(plan.steps[2].build().bytes, protocol::makeClientIdCommand("till-7"));

    auto timing = std::make_shared<TimingFields>();
    const Plan later = timingPlan([timing] { return *timing; });
    timing->keepAliveInterval = "0";
    EXPECT_EQ(later.steps[1].build().refusal, "KeepAlive must be 1...7200 seconds");
}

TEST(MqttPlans, TopicsEvery250Milliseconds) {
    TopicFields fields;
    fields.selectedSubTopicType = 2;
    fields.publishReceiptInfo = true;
    fields.pubQos = 2;
    fields.heartbeatPubTopic = "";
    EXPECT_EQ(describe(topicsPlan([fields] { return fields; })),
              (std::vector<std::string>{
                  "0:1F 28 54 03 00 54 02 56", "250:1F 28 54 03 00 52 01 53",
                  "500:1F 28 54 03 00 51 02 53", "750:1F 28 54 04 00 68 00 00 00",
                  "1000:1F 28 54 0E 00 72 50 72 69 6E 74 53 75 63 63 65 73 73 00!"}));
}

TEST(MqttPlans, TimingRefusesAStepAndTheOthersStillGo) {
    struct Case {
        const char* heartbeat;
        const char* keepAlive;
        std::vector<std::string> refusals;
    };
    const std::vector<Case> cases = {
        {"0", "1", {}},
        {"7200", "7200", {}},
        {"3", "30", {}},
        {"2", "30", {"Heartbeat interval must be 0 or 3...7200"}},
        {"7201", "30", {"Heartbeat interval must be 0 or 3...7200"}},
        {"x", "30", {"Invalid heartbeat interval"}},
        {"", "0", {"Invalid heartbeat interval", "KeepAlive must be 1...7200 seconds"}},
        {"30", "7201", {"KeepAlive must be 1...7200 seconds"}},
        {"30", "-1", {"KeepAlive must be 1...7200 seconds"}},
    };
    for (const auto& c : cases) {
        TimingFields fields;
        fields.heartbeatInterval = c.heartbeat;
        fields.keepAliveInterval = c.keepAlive;
        const Plan plan = timingPlan([fields] { return fields; });
        EXPECT_EQ(refusals(plan), c.refusals) << c.heartbeat << " " << c.keepAlive;
        const auto lines = describe(plan);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_TRUE(lines[2].starts_with("500:1F 28 54")) << lines[2];
        EXPECT_EQ(lines[3],
                  "750:" + protocol::hexText(protocol::makeDNSTestCommand("www.example.com")) +
                      "!");
    }
    TimingFields fields;
    fields.dateZone = "-5";
    fields.ntpServer = "";
    EXPECT_EQ(describe(timingPlan([fields] { return fields; }))[2], "500:1F 28 54 03 00 54 00 00");
}

TEST(MqttPlans, Tls) {
    EXPECT_EQ(describe(tlsOffPlan()),
              std::vector<std::string>{"0:1F 28 10 07 09 00 00 00 00 00 00 00 00 00 00!"});
    EXPECT_EQ(refusals(oneWayTlsPlan(" \n\t")),
              std::vector<std::string>{"Please import a .crt certificate for one-way TLS"});
    EXPECT_EQ(oneWayTlsPlan("\n-----BEGIN CERTIFICATE-----\nAA\n-----END CERTIFICATE-----\n")
                  .steps[0]
                  .build()
                  .bytes,
              protocol::makeOneWayTLSCommand(
                  "-----BEGIN CERTIFICATE-----\nAA\n-----END CERTIFICATE-----"));
    EXPECT_EQ(refusals(oneWayTlsPlan(std::string(65533, 'c'))),
              std::vector<std::string>{"Certificate too large (max 65532 bytes)"});
    EXPECT_EQ(refusals(mutualTlsPlan({1}, {}, {3}, "pw")),
              std::vector<std::string>{"Please import all three .crt files for mutual TLS"});
    EXPECT_EQ(refusals(mutualTlsPlan({1}, Bytes(65536, 2), {3}, "pw")),
              std::vector<std::string>{"Certificate file too large (max 65535 bytes)"});
    EXPECT_TRUE(refusals(mutualTlsPlan({1}, {2}, {3}, "")).empty());
}

TEST(MqttPlans, ZoneByteAndPortRules) {
    const std::vector<std::pair<const char*, int>> zones = {
        {"8", 32},
        {"12", 48},
        {"63", 252},
        {"64", 255},
        {"1000", 255},
        {"0", 0},
        {"-5", 0},
        {"-0", 0},
        {"5.5", 32},
        {"abc", 32},
        {"", 32},
        {"+3", 12},
        {"9223372036854775807", 255},
        {"-9223372036854775808", 0},
        {"99999999999999999999", 32},
    };
    for (auto [text, byte] : zones) {
        EXPECT_EQ(zoneByte(text), byte) << '"' << text << '"';
    }
    struct Port {
        int mode;
        const char* before;
        const char* after;
    };
    for (const auto& c : std::vector<Port>{{1, "1883", "8883"},
                                           {2, "", "8883"},
                                           {0, "8883", "1883"},
                                           {0, "", ""},
                                           {1, "8000", "8000"},
                                           {0, "8000", "8000"},
                                           {2, "8883", "8883"},
                                           {0, "1883", "1883"}}) {
        EXPECT_EQ(adjustedPortForTlsMode(c.mode, c.before), c.after) << c.mode << c.before;
    }
}

TEST(ScreenPlans, OneStepEachWithItsLineAndConfirmation) {
    struct Case {
        const char* name;
        Plan plan;
        std::string prefix;
        bool confirms;
        std::optional<std::string> refusal;
    };
    const std::string longName(252, 'n');
    const std::vector<Case> cases = {
        {"test", testPlan(), "", false, {}},
        {"basic", basicPlan({}), "发送命令: ", false, {}},
        {"name", printerNamePlan("Thermal"), "", false, {}},
        {"long name", printerNamePlan(longName), "", false,
         "Printer name too long (max 251 bytes)"},
        {"dynamic ip", ipPlan(true, {}), "发送IP设置命令: ", true, {}},
        {"bad static ip", ipPlan(false, {false, "1.2.3", "255.255.255.0", "1.2.3.1"}),
         "发送IP设置命令: ", true, "Please enter a valid IP address, subnet mask and gateway"},
        {"wifi", wifiPlan("", ""), "发送WIFI设置命令: ", true, {}},
        {"long wifi", wifiPlan(std::string(200, 's'), std::string(49, 'p')),
         "发送WIFI设置命令: ", true, "WIFI name and password too long (max 248 bytes together)"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.plan.steps.size(), 1u) << c.name;
        const Step& step = c.plan.steps[0];
        EXPECT_EQ(step.at, 0ms) << c.name;
        EXPECT_EQ(step.logPrefix, c.prefix) << c.name;
        EXPECT_FALSE(step.logFirst) << c.name; // these screens print after handing over
        EXPECT_EQ(step.confirms, c.confirms) << c.name;
        EXPECT_EQ(step.reportSuccess, std::string_view(c.name) == "test") << c.name;
        EXPECT_EQ(refusals(c.plan),
                  c.refusal ? std::vector<std::string>{*c.refusal} : std::vector<std::string>{})
            << c.name;
    }
    EXPECT_EQ(describe(basicPlan({})),
              std::vector<std::string>{"0:1F 28 0F 0C 00 1F 73 05 00 00 00 00 01 FF 00 00 97"});
    EXPECT_EQ(describe(ipPlan(false, {})),
              std::vector<std::string>{"0:1F 28 0F 05 00 1F 49 00 00 56!"});
}

TEST(CertificateFiles, ReadWithinTheLimitsAndTurnedIntoOneWayText) {
    QTemporaryDir dir;
    const auto write = [&](const QString& name, const QByteArray& data) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return file.fileName();
    };
    const auto read = readCertificateFile(write("device.crt", QByteArray("\x30\x82\x01\x0a", 4)));
    ASSERT_TRUE(std::holds_alternative<ImportedFile>(read));
    const auto& file = std::get<ImportedFile>(read);
    EXPECT_EQ(file.name, "device.crt");
    EXPECT_EQ(file.extension, "crt");
    EXPECT_EQ(oneWayCertificateFromFile(file.bytes, "crt"),
              "-----BEGIN CERTIFICATE-----\nMIIBCg==\n-----END CERTIFICATE-----\n");
    // A file of blanks holds no certificate: wrapped, it would be an empty PEM block.
    EXPECT_EQ(oneWayCertificateFromFile({' ', '\n', '\t'}, "crt"), "");
    const std::string pem = "-----BEGIN CERTIFICATE-----\nAA\n-----END CERTIFICATE-----\n";
    EXPECT_EQ(oneWayCertificateFromFile(Bytes(pem.begin(), pem.end()), "pem"), pem);

    {
        QFile big(dir.filePath("big.pem"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.resize(kImportLimit + 1);
    }
    const std::pair<QString, QString> refused[] = {
        {dir.filePath("big.pem"), "the file is larger than 1 MiB (1048577 bytes); a certificate "
                                  "or key is a few kilobytes"},
        {dir.path(), QFileInfo(dir.path()).fileName() + " is not a regular file"},
        {"/dev/zero", "zero is not a regular file"}, // would read without end
        {dir.filePath("missing.crt"), "No such file or directory"},
    };
    for (const auto& [path, description] : refused) {
        const auto result = readCertificateFile(path);
        ASSERT_TRUE(std::holds_alternative<QString>(result)) << path.toStdString();
        EXPECT_EQ(std::get<QString>(result), description);
    }
}

// A real TCP transport to a loopback peer that keeps what it receives.
struct LoopbackPrinter {
    QTcpServer server;
    QByteArray received;
    connection::NetworkManager transport;

    LoopbackPrinter() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            auto* peer = server.nextPendingConnection();
            QObject::connect(peer, &QIODevice::readyRead, peer,
                             [this, peer] { received += peer->readAll(); });
        });
        transport.connect("127.0.0.1", QString::number(server.serverPort()));
        EXPECT_TRUE(QTest::qWaitFor([this] { return transport.isConnected(); }, 5000));
    }
};

TEST(PlanRun, StepsAtTheirTimesWithTheirLinesThenReportsAndEnds) {
    LoopbackPrinter printer;
    testing_support::ConsoleCapture console;
    testing_support::ManualClock clock;
    BrokerFields fields;
    fields.server = "10.0.0.5";
    fields.username = std::string(61, 'u'); // the login refuses
    auto* run =
        new PlanRun(brokerPlan([fields] { return fields; }), &printer.transport, clock.scheduler());
    QPointer<PlanRun> alive(run);
    std::vector<std::string> events;
    QObject::connect(run, &PlanRun::stepRefused, [&](int i, const QString& message) {
        events.push_back(std::to_string(i) + " refused " + message.toStdString());
    });
    QObject::connect(run, &PlanRun::stepHandedOver, [&](int i, qint64 size) {
        events.push_back(std::to_string(i) + " sent " + std::to_string(size));
    });
    QObject::connect(run, &PlanRun::stepReported, [&](int i, const connection::DeliveryReport& r) {
        events.push_back(std::to_string(i) + (r.delivered ? " delivered" : " failed"));
    });
    bool finished = false;
    int delivered = 0;
    int refused = 0;
    QObject::connect(run, &PlanRun::finished, [&] {
        finished = true;
        delivered = run->deliveredSteps();
        refused = run->refusedSteps();
    });
    run->start();
    // Due at once: the broker address (logged first), then the login's refusal.
    EXPECT_EQ(events,
              (std::vector<std::string>{"0 sent 17", "1 refused Username/password too long (max 60 "
                                                     "each)"}));
    const auto address = protocol::makeBrokerAddressCommand("10.0.0.5", 1883);
    EXPECT_EQ(console.lines(),
              std::vector<std::string>{protocol::hexDumpLine("发送MQTT命令: ", address)});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::ranges::count(events, std::string("0 delivered")) == 1; }, 5000));
    clock.advanceTo(449ms);
    EXPECT_EQ(std::ranges::count(events, std::string("2 sent 9")), 0);
    clock.advanceTo(450ms);
    EXPECT_EQ(std::ranges::count(events, std::string("2 sent 9")), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 5000));
    EXPECT_EQ(delivered, 2);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(events.back(), "2 delivered");
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 5000)) << "deletes itself";
    const auto clientId = protocol::makeClientIdCommand(std::nullopt);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return printer.received.size() == qsizetype(address.size() + clientId.size()); },
        5000));
}

TEST(PlanRun, ATransportThatGoesAwayFailsWhatItStillOwedAndWhatComesLater) {
    testing_support::ManualClock clock;
    auto printer = std::make_unique<LoopbackPrinter>();
    auto* run = new PlanRun(topicsPlan([] { return TopicFields{}; }), &printer->transport,
                            clock.scheduler());
    std::vector<connection::DeliveryReport> reports;
    QObject::connect(run, &PlanRun::stepReported,
                     [&](int, const connection::DeliveryReport& r) { reports.push_back(r); });
    bool finished = false;
    QObject::connect(run, &PlanRun::finished, [&] { finished = true; });
    run->start();
    printer.reset(); // before the first step's report came
    clock.advanceTo(1s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 5000));
    ASSERT_EQ(reports.size(), 5u);
    for (const auto& report : reports) {
        EXPECT_FALSE(report.delivered);
    }
}

} // namespace
