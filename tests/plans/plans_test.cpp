// The command plans both faces run: what each screen action sends, when, with which console
// line, and what it refuses; the certificate files they read; and the runner that executes a
// plan on a real transport.
#include "plans/certificate_file.hpp"
#include "plans/mqtt_plans.hpp"
#include "plans/plan_run.hpp"
#include "plans/screen_plans.hpp"
#include "protocol/frame.hpp"
#include "tests/connection/console_capture.hpp"
#include "tests/support/capturing_server.hpp"
#include "tests/support/manual_clock.hpp"
#include "tests/support/wait_limit.hpp"

#include "connection/network_manager.hpp"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace plans;
using namespace std::chrono_literals;
using namespace protocol;

namespace {

BrokerFields broker(std::string server, std::string port, std::string user = "test",
                    std::string password = "pass") {
    return {std::move(server), std::move(port), std::move(user), std::move(password), "c1", false};
}

Plan timing(std::string heartbeat, std::string keepAlive) {
    TimingFields fields;
    fields.heartbeatInterval = std::move(heartbeat);
    fields.keepAliveInterval = std::move(keepAlive);
    return timingPlan([fields] { return fields; });
}

// What each plan refuses, and when its steps run. (The screens' parity table sends a set of
// inputs through the window and printerctl and compares the bytes; these are the edges.)
TEST(Plans, RefusalsAndTimes) {
    const std::string server = "Please enter a valid server address and port";
    const std::string heartbeat = "Heartbeat interval must be 0 or 3...7200";
    const std::string keepAlive = "KeepAlive must be 1...7200 seconds";
    const std::string allThree = "Please import all three .crt files for mutual TLS";
    const std::string tooLarge = "Certificate file too large (max 65535 bytes)";
    // The plan, what it refuses, the time of every step in ms after the press.
    const std::vector<std::tuple<Plan, std::vector<std::string>, std::vector<int>>> rows = {
        {brokerPlan([] { return broker("h", "0"); }), {}, {0, 300, 450}},
        {brokerPlan([] { return broker("h", "65536"); }), {server}, {0, 450}},
        {brokerPlan([] { return broker("", "1883"); }), {server}, {0, 450}},
        {brokerPlan([] { return broker("h", "1883", "", std::string(61, 'p')); }),
         {"Username/password too long (max 60 each)"},
         {0, 0, 450}},
        {timing("0", "1"), {}, {0, 250, 500, 750}},
        {timing("3", "7200"), {}, {0, 250, 500, 750}},
        {timing("7200", "30"), {}, {0, 250, 500, 750}},
        {timing("x", "0"), {"Invalid heartbeat interval", keepAlive}, {0, 250, 500, 750}},
        {timing("7201", "7201"), {heartbeat, keepAlive}, {0, 250, 500, 750}},
        {topicsPlan([] { return TopicFields{}; }), {}, {0, 250, 500, 750, 1000}},
        {oneWayTlsPlan(" \n\t"), {"Please import a .crt certificate for one-way TLS"}, {0}},
        {mutualTlsPlan({1}, {}, {3}, "pw"), {allThree}, {0}},
        {mutualTlsPlan({1}, {2}, {3}, std::string(65536, 'p')), {tooLarge}, {0}},
    };
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const auto& [plan, refused, expectedTimes] = rows[row];
        EXPECT_EQ(refusals(plan), refused) << "row " << row;
        std::vector<int> times;
        for (const Step& step : plan.steps) {
            times.push_back(static_cast<int>(step.at.count()));
            EXPECT_EQ(step.logPrefix, "发送MQTT命令: ");
            EXPECT_TRUE(step.logFirst); // the MQTT screen prints before handing over
        }
        EXPECT_EQ(times, expectedTimes) << "row " << row;
        // The last step confirms, unless the whole plan is one refusal.
        EXPECT_EQ(plan.steps.back().confirms, expectedTimes.size() > 1) << "row " << row;
    }
    // A one-way certificate is sent trimmed.
    EXPECT_EQ(oneWayTlsPlan("\n AB\t\n").steps[0].build().bytes, makeOneWayTLSCommand("AB"));
    EXPECT_TRUE(testPlan().steps[0].reportSuccess);
}

TEST(Plans, StepsReadTheirFieldsWhenTheyRunButTheLoginIsThatOfThePress) {
    auto fields = std::make_shared<BrokerFields>(broker("h", "1883"));
    const Plan plan = brokerPlan([fields] { return *fields; });
    fields->username = "later";
    fields->clientId = "till-7";
    EXPECT_EQ(plan.steps[1].build().bytes, makeLoginCommand("test", "pass"));
    EXPECT_EQ(plan.steps[2].build().bytes, makeClientIdCommand("till-7"));
    fields->useDefaultClientID = true;
    EXPECT_EQ(plan.steps[2].build().bytes, makeClientIdCommand(std::nullopt));

    auto timing = std::make_shared<TimingFields>();
    const Plan later = timingPlan([timing] { return *timing; });
    timing->keepAliveInterval = "0";
    EXPECT_EQ(later.steps[1].build().refusal, "KeepAlive must be 1...7200 seconds");
}

TEST(Plans, ZoneByteAndPortRules) {
    // Hours to quarter hours, clamped to a byte; what is no whole number means UTC+8.
    const std::vector<std::pair<const char*, int>> zones = {
        {"8", 32}, {"12", 48},  {"63", 252}, {"64", 255}, {"1000", 255}, {"0", 0},
        {"-5", 0}, {"5.5", 32}, {"abc", 32}, {"", 32},    {"+3", 12}};
    for (auto [text, byte] : zones) {
        EXPECT_EQ(zoneByte(text), byte) << '"' << text << '"';
    }
    EXPECT_EQ(zoneByte("-9223372036854775808"), 0);
    EXPECT_EQ(zoneByte("99999999999999999999"), 32); // beyond 64 bits
    // TLS modes 1 and 2 move the plain port to 8883, mode 0 moves it back; other ports stay.
    const std::vector<std::tuple<int, const char*, const char*>> ports = {
        {1, "1883", "8883"}, {2, "", "8883"},     {0, "8883", "1883"}, {0, "", ""},
        {1, "8000", "8000"}, {2, "8883", "8883"}, {0, "1883", "1883"}};
    for (auto [mode, before, after] : ports) {
        EXPECT_EQ(adjustedPortForTlsMode(mode, before), after) << mode << before;
    }
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

    const std::pair<QString, QString> refused[] = {
        {write("big.pem", QByteArray(kImportLimit + 1, 'A')),
         dir.filePath("big.pem") +
             " is larger than 1 MiB (1048577 bytes); a certificate or key is a few kilobytes"},
        {dir.path(), dir.path() + " is a folder"},
        {"/dev/zero", "/dev/zero is a device, not a regular file"}, // would read without end
        {dir.filePath("missing.crt"), dir.filePath("missing.crt") + ": No such file or directory"},
    };
    for (const auto& [path, description] : refused) {
        const auto result = readCertificateFile(path);
        ASSERT_TRUE(std::holds_alternative<QString>(result)) << path.toStdString();
        EXPECT_EQ(std::get<QString>(result), description);
    }
}

// A real TCP transport to a loopback peer that keeps what it receives.
struct LoopbackPrinter : testing_support::CapturingServer {
    connection::NetworkManager transport;

    LoopbackPrinter() {
        transport.connect("127.0.0.1", QString::number(port()));
        EXPECT_TRUE(
            QTest::qWaitFor([this] { return transport.isConnected(); }, testing_support::kWaitMs));
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
    QObject::connect(run, &PlanRun::finished, [&] {
        events.push_back("finished: " + std::to_string(run->deliveredSteps()) + " delivered, " +
                         std::to_string(run->refusedSteps()) + " refused");
    });
    run->start();
    // Due at once: the broker address (logged first), then the login's refusal.
    EXPECT_EQ(events,
              (std::vector<std::string>{"0 sent 17", "1 refused Username/password too long (max 60 "
                                                     "each)"}));
    const auto address = makeBrokerAddressCommand("10.0.0.5", 1883).value();
    EXPECT_EQ(console.lines(), std::vector<std::string>{hexDumpLine("发送MQTT命令: ", address)});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return std::ranges::count(events, std::string("0 delivered")) == 1; },
                        testing_support::kWaitMs));
    clock.advanceTo(449ms);
    EXPECT_EQ(std::ranges::count(events, std::string("2 sent 9")), 0);
    clock.advanceTo(450ms);
    EXPECT_EQ(std::ranges::count(events, std::string("2 sent 9")), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.back().starts_with("finished"); },
                                testing_support::kWaitMs));
    EXPECT_EQ(events.back(), "finished: 2 delivered, 1 refused");
    EXPECT_EQ(events[events.size() - 2], "2 delivered");
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, testing_support::kWaitMs))
        << "deletes itself";
    const auto clientId = makeClientIdCommand(std::nullopt).value();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return printer.received.size() == qsizetype(address.size() + clientId.size()); },
        testing_support::kWaitMs));
}

// Steps due together (a timer fired late, a large command took long) still leave one by one: a
// step is handed over only once the one ahead of it is reported, so no two share a write.
// On the real clock none leaves before its time, however the timers are grouped.
TEST(PlanRun, EachStepLeavesAloneAndNeverBeforeItsTime) {
    LoopbackPrinter printer;
    testing_support::ManualClock clock;
    auto* run = new PlanRun(topicsPlan([] { return TopicFields{}; }), &printer.transport,
                            clock.scheduler());
    std::vector<std::string> events;
    QObject::connect(run, &PlanRun::stepHandedOver,
                     [&](int i, qint64) { events.push_back(std::to_string(i) + " sent"); });
    QObject::connect(run, &PlanRun::stepReported, [&](int i, const connection::DeliveryReport&) {
        events.push_back(std::to_string(i) + " delivered");
    });
    run->start();
    clock.advanceTo(1s); // every step due at once
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 10; }, testing_support::kWaitMs));
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(events[2 * i], std::to_string(i) + " sent");
        EXPECT_EQ(events[2 * i + 1], std::to_string(i) + " delivered");
    }

    Plan plan = timingPlan([] { return TimingFields{}; });
    for (Step& step : plan.steps) {
        step.at *= 8; // 0, 2, 4 and 6 s: long enough for a coarse timer to fire early
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::chrono::milliseconds> left;
    auto* timed = new PlanRun(plan, &printer.transport);
    QObject::connect(timed, &PlanRun::stepHandedOver, [&](int, qint64) {
        left.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start));
    });
    timed->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return left.size() == 4; }, 60000));
    for (std::size_t i = 0; i < left.size(); ++i) {
        EXPECT_GE(left[i], plan.steps[i].at) << "step " << i;
    }
}

TEST(PlanRun, ATransportThatGoesAwayFailsWhatItStillOwedAndWhatComesLater) {
    testing_support::ManualClock clock;
    auto printer = std::make_unique<LoopbackPrinter>();
    auto* run = new PlanRun(topicsPlan([] { return TopicFields{}; }), &printer->transport,
                            clock.scheduler());
    std::vector<bool> delivered; // of each step, in the order of their reports
    QObject::connect(run, &PlanRun::stepReported, [&](int, const connection::DeliveryReport& r) {
        delivered.push_back(r.delivered);
    });
    bool finished = false;
    QObject::connect(run, &PlanRun::finished, [&] { finished = true; });
    run->start();
    printer.reset(); // before the first step's report came
    clock.advanceTo(1s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, testing_support::kWaitMs));
    EXPECT_EQ(delivered, std::vector<bool>(5, false));
}

} // namespace
