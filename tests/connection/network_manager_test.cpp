// NetworkManager against real sockets on 127.0.0.1.
#include "connection/network_manager.hpp"
#include "console_capture.hpp"
#include "tests/support/loopback.hpp"

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

TEST(NetworkManagerSend, BytesArriveIntactInOrder) {
    CapturingServer server;
    NetworkManager manager;
    manager.connect("127.0.0.1", server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.isConnected(); }, kWaitMs));

    protocol::Bytes large(std::size_t{64} * 1024);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    QByteArray expected;
    for (const auto& chunk : {protocol::Bytes{0x12, 0x54}, large, protocol::Bytes{0x1F, 0x28}}) {
        manager.sendData(chunk);
        expected.append(reinterpret_cast<const char*>(chunk.data()),
                        static_cast<qsizetype>(chunk.size()));
    }
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return server.received.size() >= expected.size(); }, kWaitMs));
    EXPECT_EQ(server.received, expected);
    EXPECT_FALSE(manager.hasPendingWrites());
    EXPECT_FALSE(manager.showAlert());
}

TEST(NetworkManagerSend, RefusedWhileNotConnected) {
    SilentEndpoint silent;
    NetworkManager manager;
    manager.sendData({0x12, 0x54});
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_EQ(manager.alertMessage(), "Printer not connected, please connect first");

    // Still connecting: a connection object exists, but the link is not ready.
    manager.setShowAlert(false);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.connectionStatus() == "Preparing..."; }, kWaitMs));
    manager.sendData({0x12, 0x54});
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_EQ(manager.alertMessage(), "Printer not connected, please connect first");
}

TEST(NetworkManagerSend, PeerResetDuringSendIsReported) {
    StalledListener listener;
    ConsoleCapture console;
    NetworkManager manager;
    manager.connect("127.0.0.1", QString::number(listener.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.isConnected() && listener.accept(); }, kWaitMs));
    // More than the kernel buffers hold while the peer does not read.
    manager.sendData(protocol::Bytes(std::size_t{32} * 1024 * 1024, 0x41));
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.hasPendingWrites(); }, kWaitMs));
    listener.reset();
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
    NetworkManager manager;
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", QString::number(freePort()));
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_TRUE(manager.alertMessage().startsWith("Connection failed: "));
    EXPECT_EQ(console.lines(), std::vector<std::string>{manager.alertMessage().toStdString()});
    EXPECT_EQ(recorder.statuses.back(), "Connection Failed");
    EXPECT_FALSE(manager.isConnected());
}

TEST(NetworkManagerTimeout, SilentPrinterTimesOutThenCancels) {
    SilentEndpoint silent;
    NetworkManager manager;
    manager.setConnectTimeout(300ms);
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !recorder.statuses.isEmpty() &&
                   recorder.statuses.back() == "Connection Cancelled";
        },
        kWaitMs));
    EXPECT_EQ(manager.alertMessage(),
              "Connection timeout, please check if printer is on or network is available");
    EXPECT_TRUE(manager.showAlert());
    EXPECT_FALSE(manager.isConnected());
    const QStringList tail = recorder.statuses.mid(recorder.statuses.size() - 3);
    EXPECT_EQ(tail, (QStringList{"Connection Timeout", "Not Connected", "Connection Cancelled"}));
    EXPECT_EQ(recorder.statuses.first(), "Connecting...");
}

// A check left over from an earlier attempt must not cancel a newer one.
TEST(NetworkManagerTimeout, BelongsToTheAttemptThatScheduledIt) {
    SilentEndpoint silent;
    NetworkManager manager;
    manager.setConnectTimeout(1000ms);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    QTest::qWait(500);
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    // Past the first attempt's deadline: the second attempt is still preparing.
    QTest::qWait(750);
    EXPECT_FALSE(manager.showAlert());
    EXPECT_FALSE(recorder.statuses.contains("Connection Timeout"));
    EXPECT_EQ(manager.connectionStatus(), "Preparing...");
    // Its own check ends it.
    ASSERT_TRUE(waitForAlert(manager));
    EXPECT_TRUE(recorder.statuses.contains("Connection Timeout"));
}

TEST(NetworkManagerConnect, NewConnectGivesUpThePendingAttempt) {
    SilentEndpoint silent;
    CapturingServer server;
    NetworkManager manager;
    manager.setConnectTimeout(400ms);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return manager.connectionStatus() == "Preparing..."; }, kWaitMs));
    StatusRecorder recorder(manager);
    manager.connect("127.0.0.1", server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.isConnected(); }, kWaitMs));
    // Past both deadlines: the old attempt's cancel and its check changed nothing.
    QTest::qWait(600);
    EXPECT_TRUE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Connected");
    EXPECT_FALSE(recorder.statuses.contains("Connection Cancelled"));
    EXPECT_FALSE(manager.showAlert());
}

TEST(NetworkManagerDisconnect, ResetsAtOnceThenReportsCancelled) {
    NetworkManager idle;
    idle.disconnect();
    EXPECT_EQ(idle.connectionStatus(), "Not Connected");
    QTest::qWait(50);
    EXPECT_FALSE(idle.showAlert());

    CapturingServer server;
    NetworkManager manager;
    manager.setConnectTimeout(300ms);
    manager.connect("127.0.0.1", server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.isConnected(); }, kWaitMs));
    manager.sendData({0x12, 0x54});
    manager.disconnect();
    EXPECT_FALSE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Not Connected");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.connectionStatus() == "Connection Cancelled"; }, kWaitMs));
    // The peer sees the bytes sent before the disconnect, then an orderly close.
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.closedPeers == 1; }, kWaitMs));
    EXPECT_EQ(server.received, QByteArray("\x12\x54"));
    // A user's disconnect ends the attempt: no time-out alert follows.
    QTest::qWait(500);
    EXPECT_FALSE(manager.showAlert());
}

TEST(NetworkManagerLifetime, ReportsForAGoneManagerAreDropped) {
    CapturingServer server;
    auto manager = std::make_unique<NetworkManager>();
    manager->setConnectTimeout(100ms);
    manager->connect("127.0.0.1", server.port());
    manager->sendData({1});
    manager.reset();
    QTest::qWait(300); // the posted reports and the time-out check find no manager
    SUCCEED();
}

} // namespace
