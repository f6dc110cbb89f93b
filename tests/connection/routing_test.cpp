// The routing: exactly one transport takes each command, and each reports a missing link its
// way, in its alert or console line and in the send's report.
#include "connection/transports.hpp"
#include "console_capture.hpp"
#include "tests/support/wait_limit.hpp"

#include <QTest>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

using namespace connection;

namespace {

// Threads of this process named like the USB manager's I/O thread.
int usbIoThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::ifstream(task.path() / "comm") >> name;
        count += name == "usb-io";
    }
    return count;
}

TEST(ConnectionType, RawValuesRoundTripExactly) {
    for (auto type : kAllConnectionTypes) {
        EXPECT_EQ(connectionTypeFromRaw(rawValue(type)), type);
    }
    for (const char* wrong : {"Network", "USB", "usb ", "", "bluetooth\n", "wifi"}) {
        EXPECT_EQ(connectionTypeFromRaw(wrong), std::nullopt) << wrong;
    }
}

TEST(SendOverConnection, NotConnectedBehaviourPerTransport) {
    const QString network = "Printer not connected, please connect first";
    const QString usb = "USB printer not connected";
    // The transport; the alerts of the network and USB transports; the console; the report.
    const std::tuple<ConnectionType, QString, QString, std::vector<std::string>, QString> cases[] =
        {
            {ConnectionType::network, network, "", {}, network},
            {ConnectionType::bluetooth, "", "", {"Printer not connected"}, "Printer not connected"},
            {ConnectionType::usb, "", usb, {}, usb},
        };
    for (const auto& [type, networkAlert, usbAlert, console, error] : cases) {
        for (bool reportSuccess : {false, true}) {
            Transports t(makeInactiveBleCentral);
            testing_support::ConsoleCapture capture;
            std::optional<DeliveryReport> report;
            sendOverConnection(type, t, {0x12, 0x54}, reportSuccess,
                               [&](const DeliveryReport& r) { report = r; });
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return report.has_value(); }, testing_support::kWaitMs));
            QCoreApplication::processEvents(); // alerts are posted to the event loop
            EXPECT_EQ(t.network().alertMessage(), networkAlert);
            EXPECT_EQ(t.network().showAlert(), !networkAlert.isEmpty());
            EXPECT_EQ(t.usb().alertMessage(), usbAlert);
            EXPECT_EQ(t.usb().showAlert(), !usbAlert.isEmpty());
            EXPECT_FALSE(t.bluetooth().showAlert());
            EXPECT_EQ(capture.lines(), console);
            EXPECT_FALSE(report->delivered);
            EXPECT_EQ(report->error, error);
            for (auto each : kAllConnectionTypes) {
                EXPECT_FALSE(t[each].isLinkUp());
            }
            // A transport made but never given device work starts no thread (a fleet of TCP
            // printers used to start one per printer).
            EXPECT_EQ(usbIoThreads(), 0);
        }
    }
}

} // namespace
