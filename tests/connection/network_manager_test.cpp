// NetworkManager against real sockets on 127.0.0.1, its connect time-out on a manual clock.
#include "connection/network_manager.hpp"
#include "connection/target.hpp"
#include "console_capture.hpp"
#include "tests/support/capturing_server.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/manual_clock.hpp"
#include "tests/support/wait_limit.hpp"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

using connection::DeliveryReport;
using connection::NetworkManager;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const QString kRefused = "Printer not connected, please connect first";
const QString kTimeout =
    "Connection timeout, please check if printer is on or network is available";

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, testing_support::kWaitMs);
}

class NetworkManagerTest : public testing::Test {
protected:
    NetworkManagerTest() {
        manager.setScheduler(clock.scheduler());
        QObject::connect(&manager, &NetworkManager::connectionStatusChanged, &manager,
                         [this] { statuses.push_back(manager.connectionStatus()); });
    }

    void send(const protocol::Bytes& bytes) {
        manager.sendData(bytes, [this](const DeliveryReport& r) { reports.push_back(r); });
    }
    bool connectTo(std::uint16_t port) {
        manager.connect("127.0.0.1", QString::number(port));
        return waitFor([&] { return manager.isConnected(); });
    }
    bool waitForStatus(const QString& status) {
        return waitFor([&] { return manager.connectionStatus() == status; });
    }
    // Connected to a peer that does not read, and a send it will not take in.
    void sendMoreThanTheKernelHolds() {
        ASSERT_TRUE(connectTo(listener.port()));
        ASSERT_TRUE(waitFor([&] { return listener.accept(); }));
        send(protocol::Bytes(std::size_t{32} * 1024 * 1024, 0x41));
    }
    // Runs the time-out checks due in `span`, and what they post.
    void advance(std::chrono::milliseconds span) {
        clock.advanceBy(span);
        QCoreApplication::processEvents();
    }

    ConsoleCapture console;
    ManualClock clock;
    CapturingServer server;
    StalledListener listener; // accepts, but never reads
    std::unique_ptr<NetworkManager> owner = std::make_unique<NetworkManager>();
    NetworkManager& manager = *owner;
    QStringList statuses; // every value connectionStatus takes, in order
    std::vector<DeliveryReport> reports;
};

TEST_F(NetworkManagerTest, RefusesABadAddressOrPortWithoutChangingState) {
    // The address is checked first.
    for (const char* address : {"192.168.1.256", "192.168.1", "192.168.1.87 ", "192.168.1.87\n",
                                "localhost", "", "0192.168.1.1"}) {
        EXPECT_EQ(NetworkManager::validateEndpoint(address, "abc"), "Invalid IP Address Format")
            << address;
    }
    for (const char* port : {"0", "65536", "abc", "9100 ", "", "-1", "99999999999999999999"}) {
        EXPECT_EQ(NetworkManager::validateEndpoint("127.0.0.1", port),
                  "Port must be between 1-65535")
            << port;
    }
    for (const auto& [address, port] :
         {std::pair{"192.168.1.87", "9100"}, std::pair{"010.000.001.087", "1"},
          std::pair{"0.0.0.0", "65535"}, std::pair{"255.255.255.255", "+80"}}) {
        EXPECT_EQ(NetworkManager::validateEndpoint(address, port), std::nullopt) << address;
    }
    // connect refuses them with the alert, raised after the call.
    manager.connect("127.0.0.1", "0");
    EXPECT_FALSE(manager.showAlert());
    ASSERT_TRUE(waitFor([&] { return manager.showAlert(); }));
    EXPECT_EQ(manager.alertMessage(), "Port must be between 1-65535");
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_EQ(manager.connectionStatus(), "Not Connected");
}

// A connection's life: connecting, sends that arrive intact and in order and are each reported,
// and a disconnect that resets at once while what was sent before still arrives.
TEST_F(NetworkManagerTest, ConnectsSendsAndDisconnects) {
    manager.connect("127.000.000.001", QString::number(server.port())); // leading zeros are decimal
    EXPECT_EQ(manager.connectionStatus(), "Not Connected") << "Connecting... is posted, not set";
    ASSERT_TRUE(waitFor([&] { return manager.isConnected(); }));
    EXPECT_TRUE(manager.isLinkUp());
    ASSERT_GE(statuses.size(), 2);
    EXPECT_EQ(statuses.front(), "Connecting...");
    EXPECT_EQ(statuses.back(), "Connected");
    EXPECT_EQ(statuses.mid(1, statuses.size() - 2),
              QStringList(statuses.size() - 2, "Preparing..."));
    EXPECT_EQ(console.lines(), std::vector<std::string>{"Network printer connected successfully"});

    QByteArray expected;
    for (const auto& bytes : {protocol::Bytes{0x12, 0x54}, protocol::Bytes(64 * 1024, 0x5A),
                              protocol::Bytes{}, protocol::Bytes{0x1B, 0x40}}) {
        send(bytes);
        expected.append(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<qsizetype>(bytes.size()));
    }
    EXPECT_TRUE(reports.empty()) << "reports come after sendData returned";
    manager.disconnect();
    EXPECT_FALSE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Not Connected");
    ASSERT_TRUE(waitForStatus("Connection Cancelled"));
    // The peer sees the bytes sent before the disconnect, then an orderly close; their reports
    // still come.
    ASSERT_TRUE(waitFor([&] { return server.closedPeers == 1 && reports.size() == 4; }));
    EXPECT_EQ(server.received, expected);
    for (const DeliveryReport& report : reports) {
        EXPECT_TRUE(report.delivered);
    }
    EXPECT_EQ(reports[1].bytesSent, 64 * 1024);
    advance(10s); // a user's disconnect ends the attempt: no time-out alert follows
    EXPECT_FALSE(manager.showAlert());
}

// A refused connect fails, and its time-out check changes nothing afterwards. A silent printer
// times out ten seconds after the connect, and only its own attempt's check ends it: not the
// check of an earlier attempt, nor any check once a newer attempt connected. Until a connect
// succeeds nothing is sent.
TEST_F(NetworkManagerTest, ConnectTimeOutBelongsToItsAttempt) {
    manager.connect("127.0.0.1", QString::number(freePort()));
    ASSERT_TRUE(waitFor([&] { return manager.showAlert(); }));
    EXPECT_TRUE(manager.alertMessage().startsWith("Connection failed: "));
    EXPECT_EQ(console.lines(), std::vector<std::string>{manager.alertMessage().toStdString()});
    EXPECT_EQ(statuses.back(), "Connection Failed");
    manager.setShowAlert(false);
    advance(10s);
    EXPECT_FALSE(manager.showAlert());
    EXPECT_EQ(manager.connectionStatus(), "Connection Failed");

    SilentEndpoint silent;
    send({0x12, 0x54});
    manager.connect("127.0.0.1", QString::number(silent.port()));
    advance(5s);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(waitForStatus("Preparing..."));
    send({0x12, 0x54});
    ASSERT_TRUE(waitFor([&] { return reports.size() == 2; }));
    for (const DeliveryReport& report : reports) {
        EXPECT_EQ(report.error, kRefused);
        EXPECT_EQ(report.bytesSent, 0);
    }
    EXPECT_EQ(manager.alertMessage(), kRefused);
    manager.setShowAlert(false);
    advance(9999ms); // the first attempt's check is past, the second's not yet due
    EXPECT_EQ(manager.connectionStatus(), "Preparing...");
    EXPECT_FALSE(manager.showAlert());
    advance(1ms);
    ASSERT_TRUE(waitForStatus("Connection Cancelled"));
    EXPECT_EQ(statuses.mid(statuses.size() - 3),
              (QStringList{"Connection Timeout", "Not Connected", "Connection Cancelled"}));
    EXPECT_EQ(manager.alertMessage(), kTimeout);
    EXPECT_FALSE(manager.isConnected());

    manager.setShowAlert(false);
    manager.connect("127.0.0.1", QString::number(silent.port()));
    ASSERT_TRUE(connectTo(server.port()));
    advance(20s);
    EXPECT_EQ(manager.connectionStatus(), "Connected");
    EXPECT_FALSE(manager.showAlert());
}

TEST_F(NetworkManagerTest, APeerResetDuringASendFailsItWithTheBytesSent) {
    ASSERT_NO_FATAL_FAILURE(sendMoreThanTheKernelHolds());
    listener.reset();
    ASSERT_TRUE(waitFor([&] {
        return !reports.empty() && manager.alertMessage().startsWith("Failed to send command: ");
    })) << manager.alertMessage().toStdString();
    EXPECT_FALSE(reports[0].delivered);
    EXPECT_TRUE(reports[0].error.startsWith("Failed to send command: "));
    EXPECT_LT(reports[0].bytesSent, reports[0].total);
    EXPECT_FALSE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Connection Failed");
    EXPECT_TRUE(console.lines().back().starts_with("Connection failed: "));
}

// A printer that accepts the connection and then takes nothing: a few kilobytes fill its buffer,
// and nothing is reported delivered that it has not acknowledged. At the deadline the send fails
// with how far it got, the link is dropped, and a connect report was given exactly once.
TEST_F(NetworkManagerTest, APrinterThatStopsReadingFailsTheSendAtTheDeadline) {
    std::vector<std::pair<bool, QString>> connectReports;
    QObject::connect(
        &manager, &NetworkManager::connectFinished, &manager,
        [&](bool ready, const QString& error) { connectReports.emplace_back(ready, error); });
    manager.setNoProgressLimit(300ms);
    manager.connectTo(std::get<connection::Target>(
        connection::parseTarget("tcp:127.0.0.1:" + std::to_string(listener.port()))));
    ASSERT_TRUE(waitFor([&] { return manager.isConnected() && listener.accept(); }));
    ASSERT_TRUE(waitFor([&] { return connectReports.size() == 1; }));
    EXPECT_EQ(connectReports[0], std::pair(true, QString()));
    send({0x12, 0x54});
    ASSERT_TRUE(waitFor([&] { return reports.size() == 1; }));
    EXPECT_TRUE(reports[0].delivered) << "acknowledged by the printer's stack";
    send(protocol::Bytes(256 * 1024, 0x41));
    ASSERT_TRUE(waitFor([&] { return reports.size() == 2; }));
    const DeliveryReport& stuck = reports[1];
    EXPECT_FALSE(stuck.delivered);
    EXPECT_LT(stuck.bytesSent, 64 * 1024) << "no more than the printer's buffer took";
    EXPECT_EQ(stuck.error, QString("Failed to send command: the printer took no data for 300 ms "
                                   "(%1 of 262144 bytes)")
                               .arg(stuck.bytesSent));
    ASSERT_TRUE(waitFor([&] { return manager.showAlert(); }));
    EXPECT_FALSE(manager.isConnected());
    EXPECT_EQ(manager.connectionStatus(), "Connection Failed");
    EXPECT_EQ(connectReports.size(), 1u);
}

TEST_F(NetworkManagerTest, SendsOfAGoneManagerReportFailureAndItsLateWorkIsDropped) {
    ASSERT_NO_FATAL_FAILURE(sendMoreThanTheKernelHolds());
    owner.reset();
    ASSERT_EQ(reports.size(), 1u) << "reported when the manager went";
    EXPECT_FALSE(reports[0].delivered);
    // Its time-out check, still scheduled, finds no manager (AddressSanitizer would see a use
    // after free).
    advance(10s);
    EXPECT_EQ(reports.size(), 1u);
}

} // namespace
