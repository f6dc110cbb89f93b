// The routing: exactly one manager takes each command, and each reports a missing link its way.
#include "connection/bluetooth_manager.hpp"
#include "connection/connection_type.hpp"
#include "connection/network_manager.hpp"
#include "connection/send_over_connection.hpp"
#include "connection/usb_serial_manager.hpp"
#include "console_capture.hpp"
#include "tests/support/loopback.hpp"

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

struct Managers {
    NetworkManager network;
    BluetoothManager bluetooth{nullptr, makeInactiveBleCentral()};
    USBSerialManager usb;
};

TEST(SendOverConnection, NotConnectedBehaviourPerTransport) {
    struct Case {
        ConnectionType type;
        QString networkAlert, usbAlert;
        std::vector<std::string> console;
    };
    const std::vector<Case> cases = {
        {ConnectionType::network, "Printer not connected, please connect first", "", {}},
        {ConnectionType::bluetooth, "", "", {"Printer not connected"}},
        {ConnectionType::usb, "", "USB printer not connected", {}},
    };
    for (const auto& c : cases) {
        for (bool reportSuccess : {false, true}) {
            Managers m;
            ConsoleCapture console;
            sendOverConnection(c.type, m.network, m.bluetooth, m.usb, {0x12, 0x54}, reportSuccess);
            QTest::qWait(20); // alerts are posted to the event loop
            EXPECT_EQ(m.network.alertMessage(), c.networkAlert);
            EXPECT_EQ(m.network.showAlert(), !c.networkAlert.isEmpty());
            EXPECT_EQ(m.usb.alertMessage(), c.usbAlert);
            EXPECT_EQ(m.usb.showAlert(), !c.usbAlert.isEmpty());
            EXPECT_FALSE(m.bluetooth.showAlert());
            EXPECT_EQ(console.lines(), c.console);
            EXPECT_FALSE(isCurrentConnected(c.type, m.network, m.bluetooth, m.usb));
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
    Managers m;
    ConsoleCapture console;
    m.network.connect("127.0.0.1", QString::number(server.serverPort()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.network.isConnected(); }, 5000));
    EXPECT_TRUE(isCurrentConnected(ConnectionType::network, m.network, m.bluetooth, m.usb));
    EXPECT_FALSE(isCurrentConnected(ConnectionType::usb, m.network, m.bluetooth, m.usb));
    sendOverConnection(ConnectionType::network, m.network, m.bluetooth, m.usb, {0x12, 0x54}, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 5000));
    EXPECT_EQ(received, QByteArray("\x12\x54"));
    EXPECT_FALSE(m.network.showAlert());
    EXPECT_FALSE(m.usb.showAlert());
    EXPECT_EQ(console.lines(), std::vector<std::string>{"Network printer connected successfully"});
}

} // namespace
