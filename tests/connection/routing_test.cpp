// The routing: exactly one transport takes each command, and each reports a missing link its
// way, in its alert or console line and in the send's report.
#include "connection/transports.hpp"
#include "console_capture.hpp"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

using namespace connection;
using namespace testing_support;

namespace {

TEST(ConnectionType, RawValuesAndOrder) {
    EXPECT_EQ(kAllConnectionTypes[0], ConnectionType::network);
    EXPECT_EQ(kAllConnectionTypes[1], ConnectionType::bluetooth);
    EXPECT_EQ(kAllConnectionTypes[2], ConnectionType::usb);
    for (auto type : kAllConnectionTypes) {
        EXPECT_EQ(connectionTypeFromRaw(rawValue(type)), type);
    }
    for (const char* wrong : {"Network", "USB", "usb ", "", "bluetooth\n", "wifi"}) {
        EXPECT_EQ(connectionTypeFromRaw(wrong), std::nullopt) << wrong;
    }
    EXPECT_EQ(label(ConnectionType::bluetooth), "Bluetooth");
}

TEST(SendOverConnection, NotConnectedBehaviourPerTransport) {
    struct Case {
        ConnectionType type;
        QString networkAlert, usbAlert;
        std::vector<std::string> console;
        QString report;
    };
    const std::vector<Case> cases = {
        {ConnectionType::network,
         "Printer not connected, please connect first",
         "",
         {},
         "Printer not connected, please connect first"},
        {ConnectionType::bluetooth, "", "", {"Printer not connected"}, "Printer not connected"},
        {ConnectionType::usb, "", "USB printer not connected", {}, "USB printer not connected"},
    };
    for (const auto& c : cases) {
        for (bool reportSuccess : {false, true}) {
            Transports t(makeInactiveBleCentral());
            ConsoleCapture console;
            std::optional<DeliveryReport> report;
            sendOverConnection(c.type, t, {0x12, 0x54}, reportSuccess,
                               [&](const DeliveryReport& r) { report = r; });
            ASSERT_TRUE(QTest::qWaitFor([&] { return report.has_value(); }, 5000));
            QCoreApplication::processEvents(); // alerts are posted to the event loop
            EXPECT_EQ(t.network().alertMessage(), c.networkAlert);
            EXPECT_EQ(t.network().showAlert(), !c.networkAlert.isEmpty());
            EXPECT_EQ(t.usb().alertMessage(), c.usbAlert);
            EXPECT_EQ(t.usb().showAlert(), !c.usbAlert.isEmpty());
            EXPECT_FALSE(t.bluetooth().showAlert());
            EXPECT_EQ(console.lines(), c.console);
            EXPECT_FALSE(report->delivered);
            EXPECT_EQ(report->error, c.report);
            for (auto type : kAllConnectionTypes) {
                EXPECT_FALSE(t[type].isLinkUp());
            }
        }
    }
}

TEST(SendOverConnection, NetworkBytesReachOnlyTheTcpPeer) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QByteArray received;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        auto* peer = server.nextPendingConnection();
        QObject::connect(peer, &QIODevice::readyRead, peer,
                         [&, peer] { received += peer->readAll(); });
    });
    Transports t(makeInactiveBleCentral());
    ConsoleCapture console;
    t.network().connect("127.0.0.1", QString::number(server.serverPort()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.network().isConnected(); }, 5000));
    EXPECT_TRUE(t[ConnectionType::network].isLinkUp());
    EXPECT_FALSE(t[ConnectionType::usb].isLinkUp());
    std::optional<DeliveryReport> report;
    sendOverConnection(ConnectionType::network, t, {0x12, 0x54}, true,
                       [&](const DeliveryReport& r) { report = r; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 5000));
    EXPECT_EQ(received, QByteArray("\x12\x54"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return report.has_value(); }, 5000));
    EXPECT_TRUE(report->delivered);
    EXPECT_FALSE(t.network().showAlert());
    EXPECT_FALSE(t.usb().showAlert());
    EXPECT_EQ(console.lines(), std::vector<std::string>{"Network printer connected successfully"});
}

} // namespace
