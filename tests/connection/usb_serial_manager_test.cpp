// The USB manager driven from the main thread with its I/O thread real: port list, selection,
// status texts, and sends over a real pseudo-terminal. Only the USB bus is stood in for.
#include "connection/usb_serial_manager.hpp"
#include "tests/support/pty.hpp"
#include "tests/support/wait_limit.hpp"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <ranges>

using namespace connection;
using namespace std::chrono_literals;
using testing_support::Pty;
using Kind = USBSerialPort::Kind;

namespace {

USBSerialPort serialPort(const QString& path, const QString& name) {
    return {path, name, Kind::serialCDC, 0, 0, {}};
}

// What the bus and CUPS show, changeable between refreshes, and what was sent to printer-class
// ports. The I/O thread reads it only while the main thread waits for it (each refresh and send
// is waited for), so it needs no lock of its own.
struct FakeBus {
    std::vector<USBPrinterBulkDevice> printerClass;
    std::vector<USBSerialPort> lpinfo;
    std::vector<USBSerialPort> serial;
    std::vector<UnavailablePort> unavailable;
    // Lines another program holds: the open probe fails for them, as TIOCEXCL makes it for
    // anyone but root; the manager's own held line is listed without a probe.
    std::vector<QString> heldLines;
    SendResult printerClassResult;
    std::vector<std::pair<USBSerialPort, protocol::Bytes>> printerClassSends;
    int lpinfoRuns = 0;

    UsbRoutes routes() {
        return {
            [this] { return printerClass; },
            [this](std::stop_token) {
                ++lpinfoRuns;
                return lpinfo;
            },
            [this](const QString& heldPath) {
                SerialListing listing{{}, unavailable};
                for (const auto& port : serial) {
                    if (std::ranges::count(heldLines, port.id) != 0 && port.id != heldPath) {
                        listing.unavailable.push_back({port.id, EBUSY, {}});
                    } else {
                        listing.ports.push_back(port);
                    }
                }
                return listing;
            },
            [this](const USBSerialPort& port, const protocol::Bytes& bytes, const BulkLimits&) {
                printerClassSends.emplace_back(port, bytes);
                SendResult result = printerClassResult;
                result.bytesSent = result.error ? 0 : bytes.size();
                return result;
            },
        };
    }
};

std::vector<QString> names(const std::vector<USBSerialPort>& ports) {
    const auto view = ports | std::views::transform(&USBSerialPort::name);
    return {view.begin(), view.end()};
}

TEST(UsbEnumeration, OrderDeduplicationAndCupsFallback) {
    FakeBus bus;
    bus.lpinfo = {{"usb://Printer/A?serial=1", "USB Printer", Kind::printerClass, 0, 0, "1"}};
    bus.serial = {serialPort("/dev/ttyUSB1", "usb serial (ttyUSB1)"),
                  serialPort("/dev/ttyACM0", "USB Serial (ttyACM0)"),
                  serialPort("/dev/ttyUSB1", "Zed duplicate"),
                  serialPort("/dev/ttyUSB0", "USB Serial (ttyUSB0)")};

    // No printer-class interface on the bus: CUPS's listing is asked.
    PortEnumeration found = enumeratePorts(bus.routes());
    EXPECT_EQ(bus.lpinfoRuns, 1);
    EXPECT_EQ(names(found.ports),
              (std::vector<QString>{"USB Printer", "USB Serial (ttyACM0)", "USB Serial (ttyUSB0)",
                                    "usb serial (ttyUSB1)"}));

    // With one, CUPS is not asked. Case does not count in the order: names equal but for case
    // keep their listing order.
    bus.printerClass = {USBPrinterBulkDevice("17", "USB SERIAL (ttyACM0)", 1, 2, "s"),
                        USBPrinterBulkDevice("18", "another", 3, 4, "")};
    found = enumeratePorts(bus.routes());
    EXPECT_EQ(bus.lpinfoRuns, 1);
    EXPECT_EQ(names(found.ports),
              (std::vector<QString>{"another", "USB SERIAL (ttyACM0)", "USB Serial (ttyACM0)",
                                    "USB Serial (ttyUSB0)", "usb serial (ttyUSB1)"}));
}

class UsbManager : public ::testing::Test {
protected:
    FakeBus bus;
    Pty pty;
    const QString ptyPath = QString::fromStdString(pty.slavePath());
    std::unique_ptr<USBSerialManager> manager =
        std::make_unique<USBSerialManager>(nullptr, bus.routes());

    // Also waits until everything posted to the I/O thread before has run and reported back.
    void refresh() {
        QSignalSpy refreshed(manager.get(), &USBSerialManager::portsRefreshed);
        manager->refreshPorts();
        ASSERT_TRUE(refreshed.wait(testing_support::kWaitMs));
    }
    // Connects and waits for the outcome.
    bool connect(std::optional<QString> id = std::nullopt) {
        QSignalSpy finished(manager.get(), &USBSerialManager::connectFinished);
        manager->connect(id);
        return (!finished.isEmpty() || finished.wait(testing_support::kWaitMs)) &&
               finished.takeFirst().at(0).toBool();
    }
    // Sends and waits for the report.
    DeliveryReport send(const protocol::Bytes& bytes, bool reportSuccess = false) {
        std::optional<DeliveryReport> report;
        manager->sendData(
            bytes, [&](const DeliveryReport& r) { report = r; }, reportSuccess);
        EXPECT_FALSE(report.has_value()) << "reported inside sendData";
        if (!QTest::qWaitFor([&] { return report.has_value(); }, testing_support::kWaitMs)) {
            return DeliveryReport::failure("(no report)", 0, 0);
        }
        EXPECT_EQ(report->delivered, report->error.isEmpty());
        EXPECT_EQ(report->total, static_cast<qint64>(bytes.size()));
        return *report;
    }
    // The alert raised by now, after the main thread has run what was posted to it; "" if none.
    QString alert() {
        QCoreApplication::processEvents();
        return manager->showAlert() ? manager->alertMessage() : QString();
    }
};

TEST_F(UsbManager, RefreshPublishesCountSelectionAndProblems) {
    EXPECT_EQ(manager->connectionStatus(), "Not Connected");
    const USBSerialPort a = serialPort("/dev/ttyUSB0", "A"), b = serialPort("/dev/ttyUSB1", "B"),
                        c = serialPort("/dev/ttyUSB2", "C");
    // The ports listed, the selection before the refresh and after it, the status.
    const std::vector<std::tuple<std::vector<USBSerialPort>, QString, QString, QString>> steps = {
        {{a}, "", a.id, "1 USB printer ready"},
        {{a, b, c}, c.id, c.id, "3 USB printers ready"},
        {{b}, c.id, b.id, "1 USB printer ready"},
        {{}, b.id, "", "No USB printer found — check the cable"},
    };
    for (const auto& [ports, selectedBefore, selectedAfter, status] : steps) {
        bus.serial = ports;
        manager->setSelectedPortPath(selectedBefore);
        refresh();
        EXPECT_EQ(manager->selectedPortPath(), selectedAfter);
        EXPECT_EQ(manager->connectionStatus(), status);
    }
    bus.unavailable = {{"/dev/ttyUSB3", EBUSY, "Close it."}};
    refresh();
    EXPECT_EQ(manager->accessProblems(),
              QStringList{"/dev/ttyUSB3: Device or resource busy. Close it."});
}

TEST_F(UsbManager, SerialConnectSendAndDisconnect) {
    EXPECT_FALSE(connect());
    EXPECT_EQ(alert(), "Please select a USB printer");
    EXPECT_EQ(manager->connectionStatus(), "Not Connected");
    manager->setShowAlert(false);
    bus.serial = {serialPort("/dev/ttyUSB-gone", "B gone"), serialPort(ptyPath, "A pty")};
    refresh();
    EXPECT_FALSE(connect("/dev/ttyUSB-gone"));
    EXPECT_EQ(manager->connectionStatus(), "Open failed");
    EXPECT_TRUE(alert().startsWith("Cannot open USB serial:\nNo such file or directory\n\n"))
        << alert().toStdString();

    // A disconnect right after a connect wins: the open runs, then the close; the attempt ends
    // with one report, cancelled, and the open's own result is void.
    QSignalSpy finished(manager.get(), &USBSerialManager::connectFinished);
    manager->connect();
    EXPECT_EQ(manager->connectionStatus(), "Connecting…");
    manager->disconnect();
    refresh();
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(manager->connectionStatus(), "2 USB printers ready");
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0], (QVariantList{false, "Connection cancelled"}));

    manager->setSelectedPortPath("/dev/stale");
    ASSERT_TRUE(connect()); // a stale selection connects the first listed port
    EXPECT_EQ(manager->connectionStatus(), "Connected · A pty");
    EXPECT_EQ(manager->selectedPortPath(), ptyPath);
    ASSERT_TRUE(manager->connectedPort().has_value());
    EXPECT_EQ(send({}, true).error, "");
    EXPECT_EQ(alert(), "USB test data sent.");
    manager->setShowAlert(false);
    EXPECT_EQ(send({0x12, 0x54}).error, "");
    EXPECT_EQ(alert(), "");

    manager->disconnect();
    EXPECT_FALSE(manager->isConnected());
    EXPECT_FALSE(manager->connectedPort().has_value());
    EXPECT_EQ(manager->connectionStatus(), "Disconnected");
    EXPECT_EQ(send({0x12}).error, "USB printer not connected");
    EXPECT_EQ(alert(), "USB printer not connected");
    // What a send handed to the line still reaches the printer once the line is closed.
    refresh();
    EXPECT_EQ(pty.read(2, testing_support::kWaitLimit), (protocol::Bytes{0x12, 0x54}));
    EXPECT_TRUE(pty.nothingElseArrived());

    bus.serial.clear();
    refresh();
    manager->disconnect();
    EXPECT_EQ(manager->connectionStatus(), "Not Connected");
}

// The line this program holds is exclusive: probing it would fail for a normal user, and the
// connected port would vanish from the list with an access problem of its own making.
TEST_F(UsbManager, RefreshWhileConnectedKeepsTheHeldLine) {
    bus.serial = {serialPort("/dev/ttyUSB0", "A other"), serialPort(ptyPath, "B pty")};
    refresh();
    ASSERT_TRUE(connect(ptyPath));
    bus.heldLines = {ptyPath}; // now held, by us
    refresh();
    EXPECT_EQ(manager->availablePorts().size(), 2u);
    EXPECT_EQ(manager->selectedPortPath(), ptyPath);
    EXPECT_TRUE(manager->accessProblems().isEmpty());
    EXPECT_EQ(manager->connectionStatus(), "Connected · B pty");
    // Once closed, the line is probed again like any other.
    manager->disconnect();
    refresh();
    EXPECT_EQ(manager->availablePorts().size(), 1u);
}

// A printer that takes no data fails a send after the no-progress limit, with what went out,
// and the link stays up. While it holds the I/O thread, neither a disconnect nor the end of the
// manager waits for it: with a limit of a day, a manager that waited would never be gone (the
// test's time-out catches that; nothing here is timed).
TEST_F(UsbManager, AStuckPrinterNeverHoldsTheMainThread) {
    bus.serial = {serialPort(ptyPath, "P")}; // the pty is never read
    refresh();
    ASSERT_TRUE(connect());
    manager->setNoProgressLimit(200ms);
    const DeliveryReport stuck = send(protocol::Bytes(256 * 1024, 0x41));
    EXPECT_EQ(stuck.error, QString("USB send failed: the printer took no data for 200 ms (%1 of "
                                   "262144 bytes written)")
                               .arg(stuck.bytesSent));
    EXPECT_EQ(alert(), stuck.error);
    EXPECT_TRUE(manager->isConnected());

    manager->setNoProgressLimit(24h);
    std::optional<DeliveryReport> report;
    manager->sendData(protocol::Bytes(1024, 0x41), [&](const DeliveryReport& r) { report = r; });
    manager->disconnect(); // marks the link down at once
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(manager->connectionStatus(), "Disconnected");
    QCoreApplication::processEvents();
    EXPECT_FALSE(report.has_value()) << "the write is still waiting for the printer";

    manager.reset();
    // The write was stopped, not finished: its report went with the manager.
    EXPECT_FALSE(report.has_value());
}

TEST_F(UsbManager, PrinterClassSendsThroughItsRoute) {
    bus.printerClass = {USBPrinterBulkDevice("33", "QW-T50 USB Printer", 0x0FE6, 0x811E, "AB12")};
    refresh();
    ASSERT_TRUE(connect("bulk:33"));
    EXPECT_EQ(manager->connectionStatus(), "Connected · QW-T50 USB Printer");

    EXPECT_EQ(send({1, 2, 3}, true).error, "");
    EXPECT_EQ(alert(), "USB test data sent. If nothing prints, check paper/cover and try again.");
    manager->setShowAlert(false);
    EXPECT_EQ(send({4}).error, "");
    EXPECT_EQ(alert(), "");

    bus.printerClassResult = {"USB write failed (0xfffffff7)"};
    EXPECT_EQ(send({5}, true).error, "USB write failed (0xfffffff7)");
    EXPECT_EQ(alert(), "USB write failed (0xfffffff7)");
    EXPECT_TRUE(manager->isConnected());

    ASSERT_EQ(bus.printerClassSends.size(), 3u);
    EXPECT_EQ(bus.printerClassSends[0].first.id, "bulk:33");
    EXPECT_EQ(bus.printerClassSends[0].first.serial, "AB12");
    EXPECT_EQ(bus.printerClassSends[1].second, protocol::Bytes{4});
}

} // namespace
