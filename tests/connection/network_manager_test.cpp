// NetworkManager against real sockets on 127.0.0.1.
#include "connection/network_manager.hpp"
#include "console_capture.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/manual_clock.hpp"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using connection::NetworkManager;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 5000;

// Every value connectionStatus takes, in order.
class StatusRecorder {
public:
    explicit StatusRecorder(NetworkManager& manager) {
        QObject::connect(&manager, &NetworkManager::connectionStatusChanged, &manager,
                         [this, &manager] { statuses.push_back(manager.connectionStatus()); });
    }
    QStringList statuses;
};

// Accepts connections and keeps everything they send.
class CapturingServer {
public:
    CapturingServer() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (auto* peer = server.nextPendingConnection()) {
                peers.push_back(peer);
                QObject::connect(peer, &QIODevice::readyRead, peer,
                                 [this, peer] { received += peer->readAll(); });
                QObject::connect(peer, &QAbstractSocket::disconnected, peer,
                                 [this] { ++closedPeers; });
            }
        });
    }
    QString port() const { return QString::number(server.serverPort()); }

    QTcpServer server;
    std::vector<QTcpSocket*> peers;
    QByteArray received;
    int closedPeers = 0;
};

bool waitForAlert(NetworkManager& manager) {
    return QTest::qWaitFor([&] { return manager.showAlert(); }, kWaitMs);
}

// The reports of the sends a test makes, in the order they came.
struct Reports {
    std::vector<connection::DeliveryReport> received;
    connection::DeliveryHandler handler() {
        return [this](const connection::DeliveryReport& report) { received.push_back(report); };
    }
    bool waitFor(std::size_t count) {
        return QTest::qWaitFor([&] { return received.size() >= count; }, kWaitMs);
    }
};

// A manager whose connect time-out checks run when the test says so.
struct TimedManager {
    ManualClock clock;
    NetworkManager manager;
    TimedManager() { manager.setScheduler(clock.scheduler()); }
};

TEST(NetworkManagerValidation, RefusesBadAddressOrPortWithoutChangingState) {
    struct Case {
        const char* address;
        const char* port;
        const char* alert;
    };
    const std::vector<Case> cases = {
        {"192.168.1.256", "9100", "Invalid IP Address Format"},
        {"192.168.1", "9100", "Invalid IP Address Format"},
        {"192.168.1.87 ", "9100", "Invalid IP Address Format"},
        {"192.168.1.87\n", "9100", "Invalid IP Address Format"},
        {"localhost", "9100", "Invalid IP Address Format"},
        {"", "9100", "Invalid IP Address Format"},
        {"0192.168.1.1", "9100", "Invalid IP Address Format"},
        {"192.168.1.256", "abc", "Invalid IP Address Format"}, // address first
        {"127.0.0.1", "0", "Port must be between 1-65535"},
        {"127.0.0.1", "65536", "Port must be between 1-65535"},
        {"127.0.0.1", "abc", "Port must be between 1-65535"},
        {"127.0.0.1", "9100 ", "Port must be between 1-65535"},
        {"127.0.0.1", "", "Port must be between 1-65535"},
        {"127.0.0.1", "-1", "Port must be between 1-65535"},
        {"127.0.0.1", "99999999999999999999", "Port must be between 1-65535"},
    };
    for (const auto& c : cases) {
        NetworkManager manager;
        StatusRecorder recorder(manager);
        manager.connect(QString::fromUtf8(c.address), QString::fromUtf8(c.port));
        EXPECT_FALSE(manager.showAlert()) << "the alert is raised later, not inside connect";
        ASSERT_TRUE(waitForAlert(manager)) << c.address << " " << c.port;
        EXPECT_EQ(manager.alertMessage().toStdString(), c.alert) << c.address << " " << c.port;
        EXPECT_TRUE(recorder.statuses.isEmpty()) << c.address;
        EXPECT_EQ(manager.connectionStatus(), "Not Connected");
    }
    for (const auto& [address, port] :
         std::vector<std::pair<QString, QString>>{{"192.168.1.87", "9100"},
                                                  {"010.000.001.087", "1"},
                                                  {"0.0.0.0", "65535"},
                                                  {"255.255.255.255", "+80"}}) {
        EXPECT_FALSE(NetworkManager::validateEndpoint(address, port)) << address.toStdString();
    }
}

TEST(NetworkManagerConnect, ReportsConnectingThenPreparingThenConnected) {
    CapturingServer server;
    ConsoleCapture console;
    NetworkManager manager;
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", server.port());
    EXPECT_EQ(manager.connectionStatus(), "Not Connected") << "Connecting... is posted, not set";
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.isConnected(); }, kWaitMs));
    ASSERT_GE(recorder.statuses.size(), 2);
    EXPECT_EQ(recorder.statuses.front(), "Connecting...");
    EXPECT_EQ(recorder.statuses.back(), "Connected");
    for (const auto& status : recorder.statuses.mid(1, recorder.statuses.size() - 2)) {
        EXPECT_EQ(status, "Preparing...");
    }
    EXPECT_EQ(console.lines(), std::vector<std::string>{"Network printer connected successfully"});
    EXPECT_FALSE(manager.showAlert());

    // Leading zeros are decimal: 127.000.000.001 is loopback, not an octal surprise.
    NetworkManager zeros;
    zeros.connect("127.000.000.001", server.port());
    EXPECT_TRUE(QTest::qWaitFor([&] { return zeros.isConnected(); }, kWaitMs));
}

TEST(NetworkManagerSend, BytesArriveIntactInOrderAndEachSendIsReported) {
    CapturingServer server;
    NetworkManager manager;
    manager.connect("127.0.0.1", server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.isConnected(); }, kWaitMs));

    protocol::Bytes large(std::size_t{64} * 1024);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    Reports reports;
    QByteArray expected;
    for (const auto& chunk : {protocol::Bytes{0x12, 0x54}, large, protocol::Bytes{}}) {
        manager.sendData(chunk, reports.handler());
        expected.append(reinterpret_cast<const char*>(chunk.data()),
                        static_cast<qsizetype>(chunk.size()));
    }
    EXPECT_TRUE(reports.received.empty()) << "reports come after sendData returned";
    ASSERT_TRUE(reports.waitFor(3));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(reports.received[i].delivered) << i;
    }
    EXPECT_EQ(reports.received[1].bytesSent, 64 * 1024);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return server.received.size() >= expected.size(); }, kWaitMs));
    EXPECT_EQ(server.received, expected);
    EXPECT_FALSE(manager.showAlert());
}

TEST(NetworkManagerSend, RefusedWhileNotConnected) {
    SilentEndpoint silent;
    NetworkManager manager;
    Reports reports;
    const QString text = "Printer not connected, please connect first";
    manager.sendData({0x12, 0x54}, reports.handler());
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_EQ(manager.alertMessage(), text);

    // Still connecting: a connection object exists, but the link is not ready.
    manager.setShowAlert(false);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.connectionStatus() == "Preparing..."; }, kWaitMs));
    manager.sendData({0x12, 0x54}, reports.handler());
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_EQ(manager.alertMessage(), text);
    ASSERT_TRUE(reports.waitFor(2));
    for (const auto& report : reports.received) {
        EXPECT_FALSE(report.delivered);
        EXPECT_EQ(report.error, text);
        EXPECT_EQ(report.bytesSent, 0);
    }
}

TEST(NetworkManagerSend, PeerResetDuringSendIsReported) {
    StalledListener listener;
    ConsoleCapture console;
    NetworkManager manager;
    manager.connect("127.0.0.1", QString::number(listener.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.isConnected() && listener.accept(); }, kWaitMs));
    // More than the kernel buffers hold while the peer does not read.
    const qint64 size = qint64{32} * 1024 * 1024;
    Reports reports;
    manager.sendData(protocol::Bytes(static_cast<std::size_t>(size), 0x41), reports.handler());
    listener.reset();
    ASSERT_TRUE(reports.waitFor(1));
    EXPECT_FALSE(reports.received[0].delivered);
    EXPECT_TRUE(reports.received[0].error.startsWith("Failed to send command: "));
    EXPECT_LT(reports.received[0].bytesSent, size);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.alertMessage().startsWith("Failed to send command: "); }, kWaitMs))
        << manager.alertMessage().toStdString();
    EXPECT_TRUE(manager.showAlert());
    EXPECT_FALSE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Connection Failed");
    ASSERT_FALSE(console.lines().empty());
    EXPECT_TRUE(console.lines().back().starts_with("Connection failed: "));
}

TEST(NetworkManagerConnect, RefusedPortFails) {
    ConsoleCapture console;
    TimedManager timed;
    NetworkManager& manager = timed.manager;
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", QString::number(freePort()));
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_TRUE(manager.alertMessage().startsWith("Connection failed: "));
    EXPECT_EQ(console.lines(), std::vector<std::string>{manager.alertMessage().toStdString()});
    EXPECT_EQ(recorder.statuses.back(), "Connection Failed");
    EXPECT_FALSE(manager.isConnected());
    // The ended attempt's check changes nothing: no second, wrong "timeout" alert.
    manager.setShowAlert(false);
    timed.clock.advanceBy(10s);
    QCoreApplication::processEvents();
    EXPECT_FALSE(manager.showAlert());
    EXPECT_EQ(manager.connectionStatus(), "Connection Failed");
}

TEST(NetworkManagerTimeout, SilentPrinterTimesOutAfterTenSecondsThenCancels) {
    SilentEndpoint silent;
    TimedManager timed;
    NetworkManager& manager = timed.manager;
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.connectionStatus() == "Preparing..."; }, kWaitMs));
    timed.clock.advanceBy(9999ms);
    EXPECT_EQ(manager.connectionStatus(), "Preparing...");
    timed.clock.advanceBy(1ms);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.connectionStatus() == "Connection Cancelled"; }, kWaitMs));
    EXPECT_EQ(manager.alertMessage(),
              "Connection timeout, please check if printer is on or network is available");
    EXPECT_TRUE(manager.showAlert());
    EXPECT_FALSE(manager.isConnected());
    const QStringList tail = recorder.statuses.mid(recorder.statuses.size() - 3);
    EXPECT_EQ(tail, (QStringList{"Connection Timeout", "Not Connected", "Connection Cancelled"}));
    EXPECT_EQ(recorder.statuses.first(), "Connecting...");
}

// A check left over from an earlier attempt must not cancel a newer one, nor one the user
// ended; a newer attempt's own check still does its work.
TEST(NetworkManagerTimeout, BelongsToTheAttemptThatScheduledIt) {
    SilentEndpoint silent;
    CapturingServer server;
    TimedManager timed;
    NetworkManager& manager = timed.manager;
    manager.connect("127.0.0.1", QString::number(silent.port()));
    timed.clock.advanceBy(5s);
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.connectionStatus() == "Preparing..."; }, kWaitMs));
    timed.clock.advanceBy(5s); // the first attempt's check is due
    QCoreApplication::processEvents();
    EXPECT_FALSE(manager.showAlert());
    EXPECT_FALSE(recorder.statuses.contains("Connection Timeout"));
    EXPECT_EQ(manager.connectionStatus(), "Preparing...");
    timed.clock.advanceBy(5s); // its own check ends it
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_TRUE(recorder.statuses.contains("Connection Timeout"));

    // A newer connect that succeeds is left alone by every older check.
    manager.setShowAlert(false);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    manager.connect("127.0.0.1", server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.isConnected(); }, kWaitMs));
    timed.clock.advanceBy(20s);
    QCoreApplication::processEvents();
    EXPECT_TRUE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Connected");
    EXPECT_FALSE(manager.showAlert());
}

TEST(NetworkManagerDisconnect, ResetsAtOnceThenReportsCancelled) {
    TimedManager timed;
    timed.manager.disconnect();
    EXPECT_EQ(timed.manager.connectionStatus(), "Not Connected");

    CapturingServer server;
    NetworkManager& manager = timed.manager;
    manager.connect("127.0.0.1", server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.isConnected(); }, kWaitMs));
    Reports reports;
    manager.sendData({0x12, 0x54}, reports.handler());
    manager.disconnect();
    EXPECT_FALSE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Not Connected");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.connectionStatus() == "Connection Cancelled"; }, kWaitMs));
    // The peer sees the bytes sent before the disconnect, then an orderly close; their report
    // still comes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.closedPeers == 1; }, kWaitMs));
    EXPECT_EQ(server.received, QByteArray("\x12\x54"));
    ASSERT_TRUE(reports.waitFor(1));
    EXPECT_TRUE(reports.received[0].delivered);
    // A user's disconnect ends the attempt: no time-out alert follows.
    timed.clock.advanceBy(10s);
    QCoreApplication::processEvents();
    EXPECT_FALSE(manager.showAlert());
}

TEST(NetworkManagerLifetime, SendsOfAGoneManagerReportFailureAndItsLateWorkIsDropped) {
    StalledListener listener;
    ManualClock clock;
    auto manager = std::make_unique<NetworkManager>();
    manager->setScheduler(clock.scheduler());
    manager->connect("127.0.0.1", QString::number(listener.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager->isConnected() && listener.accept(); }, kWaitMs));
    Reports reports;
    manager->sendData(protocol::Bytes(std::size_t{32} * 1024 * 1024, 1), reports.handler());
    manager.reset();
    ASSERT_EQ(reports.received.size(), 1u) << "reported when the manager went";
    EXPECT_FALSE(reports.received[0].delivered);
    // Its time-out check, still scheduled, finds no manager (AddressSanitizer would see a use
    // after free).
    clock.advanceBy(10s);
    QCoreApplication::processEvents();
    EXPECT_EQ(reports.received.size(), 1u);
}

} // namespace
