// The USB manager driven from the main thread with its I/O thread real: port list, selection,
// status texts, and sends over a real pseudo-terminal. Only the USB bus is stood in for.
#include "connection/usb_serial_manager.hpp"
#include "tests/support/pty.hpp"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

using namespace connection;
using namespace std::chrono_literals;
using testing_support::Pty;
using Kind = USBSerialPort::Kind;

namespace {

USBSerialPort serialPort(const QString& path, const QString& name) {
    return {path, name, Kind::serialCDC, 0, 0, {}};
}

// What the bus and CUPS show, changeable between refreshes, and what was sent to printer-class
// ports.
struct FakeBus {
    std::mutex mutex;
    std::vector<USBPrinterBulkDevice> printerClass;
    std::vector<USBSerialPort> lpinfo;
    std::vector<USBSerialPort> serial;
    std::vector<UnavailablePort> unavailable;
    std::optional<QString> printerClassResult;
    std::vector<std::pair<USBSerialPort, protocol::Bytes>> printerClassSends;
    std::atomic<int> lpinfoRuns = 0;

    UsbRoutes routes() {
        return {
            [this] {
                std::lock_guard lock(mutex);
                return printerClass;
            },
            [this] {
                std::lock_guard lock(mutex);
                ++lpinfoRuns;
                return lpinfo;
            },
            [this] {
                std::lock_guard lock(mutex);
                return SerialListing{serial, unavailable};
            },
            [this](const USBSerialPort& port, const protocol::Bytes& bytes) {
                std::lock_guard lock(mutex);
                printerClassSends.emplace_back(port, bytes);
                return printerClassResult;
            },
        };
    }
};

std::vector<QString> names(const std::vector<USBSerialPort>& ports) {
    std::vector<QString> result;
    for (const auto& port : ports) {
        result.push_back(port.name);
    }
    return result;
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

    // With one, CUPS is not asked; names equal but for case keep their listing order.
    bus.printerClass = {USBPrinterBulkDevice("17", "USB SERIAL (ttyACM0)", 1, 2, "s"),
                        USBPrinterBulkDevice("18", "Another", 3, 4, "")};
    found = enumeratePorts(bus.routes());
    EXPECT_EQ(bus.lpinfoRuns, 1);
    EXPECT_EQ(names(found.ports),
              (std::vector<QString>{"Another", "USB SERIAL (ttyACM0)", "USB Serial (ttyACM0)",
                                    "USB Serial (ttyUSB0)", "usb serial (ttyUSB1)"}));
    EXPECT_EQ(found.ports[1],
              (USBSerialPort{"bulk:17", "USB SERIAL (ttyACM0)", Kind::printerClass, 1, 2, "s"}));
}

class UsbManager : public ::testing::Test {
protected:
    FakeBus bus;
    std::unique_ptr<USBSerialManager> manager =
        std::make_unique<USBSerialManager>(nullptr, bus.routes());

    void refresh() {
        QSignalSpy refreshed(manager.get(), &USBSerialManager::portsRefreshed);
        manager->refreshPorts();
        ASSERT_TRUE(refreshed.wait(5000));
    }
    // Connects and waits for the outcome.
    bool connect(std::optional<QString> id = std::nullopt) {
        QSignalSpy finished(manager.get(), &USBSerialManager::connectFinished);
        manager->connect(id);
        if (finished.isEmpty() && !finished.wait(5000)) {
            return false;
        }
        return finished.takeFirst().at(0).toBool();
    }
    QString send(const protocol::Bytes& bytes, bool reportSuccess) {
        QSignalSpy finished(manager.get(), &USBSerialManager::sendFinished);
        manager->sendData(bytes, reportSuccess);
        if (finished.isEmpty()) {
            EXPECT_TRUE(finished.wait(10000));
        }
        return finished.isEmpty() ? QStringLiteral("(no result)")
                                  : finished.takeFirst().at(0).toString();
    }
    // No alert was posted: whatever the send posted has run by the time this looks.
    bool noAlert() {
        QCoreApplication::processEvents();
        return !manager->showAlert();
    }
    // The alert raised by now, after the main thread has run what was posted to it.
    QString alert() {
        const bool raised = QTest::qWaitFor([this] { return manager->showAlert(); }, 2000);
        return raised ? manager->alertMessage() : QString();
    }
};

TEST_F(UsbManager, RefreshPublishesCountSelectionAndProblems) {
    EXPECT_EQ(manager->connectionStatus(), "Not Connected");
    struct Step {
        std::vector<USBSerialPort> ports;
        QString selectedBefore, selectedAfter, status;
    };
    const Step steps[] = {
        {{}, "", "", "No USB printer found — check the cable"},
        {{serialPort("/dev/ttyUSB0", "A")}, "", "/dev/ttyUSB0", "1 USB printer ready"},
        {{serialPort("/dev/ttyUSB0", "A"), serialPort("/dev/ttyUSB1", "B"),
          serialPort("/dev/ttyUSB2", "C")},
         "/dev/ttyUSB2",
         "/dev/ttyUSB2",
         "3 USB printers ready"},
        {{serialPort("/dev/ttyUSB1", "B")}, "/dev/ttyUSB2", "/dev/ttyUSB1", "1 USB printer ready"},
        {{}, "/dev/ttyUSB1", "", "No USB printer found — check the cable"},
    };
    for (const Step& step : steps) {
        bus.serial = step.ports;
        manager->setSelectedPortPath(step.selectedBefore);
        refresh();
        EXPECT_EQ(manager->selectedPortPath(), step.selectedAfter);
        EXPECT_EQ(manager->connectionStatus(), step.status);
    }
    bus.unavailable = {{"/dev/ttyUSB3", EBUSY, "Close it."}};
    refresh();
    EXPECT_EQ(manager->accessProblems(),
              QStringList{"/dev/ttyUSB3: Device or resource busy. Close it."});
}

TEST_F(UsbManager, SerialConnectSendAndDisconnect) {
    Pty pty;
    const QString path = QString::fromStdString(pty.slavePath());
    bus.serial = {serialPort("/dev/ttyUSB9", "B gone"), serialPort(path, "A pty")};
    refresh();
    manager->setSelectedPortPath("/dev/stale");
    ASSERT_TRUE(connect()); // a stale selection connects the first listed port
    EXPECT_EQ(manager->connectionStatus(), "Connected · A pty");
    EXPECT_EQ(manager->selectedPortPath(), path);
    ASSERT_TRUE(manager->connectedPort().has_value());

    refresh(); // leaves the connected status alone
    EXPECT_EQ(manager->connectionStatus(), "Connected · A pty");

    EXPECT_EQ(send({0x12, 0x54}, false), "");
    EXPECT_EQ(pty.read(2, 5s), (protocol::Bytes{0x12, 0x54}));
    EXPECT_TRUE(noAlert());
    EXPECT_EQ(send({}, true), "");
    EXPECT_EQ(alert(), "USB test data sent.");
    EXPECT_TRUE(pty.staysQuiet(50ms));

    manager->disconnect();
    EXPECT_FALSE(manager->isConnected());
    EXPECT_FALSE(manager->connectedPort().has_value());
    EXPECT_EQ(manager->connectionStatus(), "Disconnected");
    manager->setShowAlert(false);
    EXPECT_EQ(send({0x12}, false), "USB printer not connected");
    EXPECT_EQ(alert(), "USB printer not connected");

    bus.serial.clear();
    refresh();
    manager->disconnect();
    EXPECT_EQ(manager->connectionStatus(), "Not Connected");
}

TEST_F(UsbManager, ConnectFailures) {
    EXPECT_FALSE(connect());
    EXPECT_EQ(alert(), "Please select a USB printer");
    EXPECT_EQ(manager->connectionStatus(), "Not Connected");

    manager->setShowAlert(false);
    bus.serial = {serialPort("/dev/ttyUSB-unplugged", "Gone")};
    refresh();
    EXPECT_FALSE(connect());
    EXPECT_EQ(manager->connectionStatus(), "Open failed");
    EXPECT_TRUE(alert().startsWith("Cannot open USB serial:\nNo such file or directory\n\n"))
        << alert().toStdString();
    EXPECT_FALSE(manager->isConnected());
}

TEST_F(UsbManager, DisconnectRightAfterConnectStaysDisconnected) {
    Pty pty;
    bus.serial = {serialPort(QString::fromStdString(pty.slavePath()), "P")};
    refresh();
    QSignalSpy finished(manager.get(), &USBSerialManager::connectFinished);
    manager->connect();
    manager->disconnect();
    // The disconnect waited for the open, so the open's report is already queued: run it.
    QCoreApplication::processEvents();
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(manager->connectionStatus(), "Disconnected");
    EXPECT_TRUE(finished.isEmpty());
}

TEST_F(UsbManager, PrinterClassSendsThroughItsRoute) {
    bus.printerClass = {USBPrinterBulkDevice("33", "QW-T50 USB Printer", 0x0FE6, 0x811E, "AB12")};
    refresh();
    ASSERT_TRUE(connect("bulk:33"));
    EXPECT_EQ(manager->connectionStatus(), "Connected · QW-T50 USB Printer");

    EXPECT_EQ(send({1, 2, 3}, true), "");
    EXPECT_EQ(alert(), "USB test data sent. If nothing prints, check paper/cover and try again.");
    manager->setShowAlert(false);
    EXPECT_EQ(send({4}, false), "");
    EXPECT_TRUE(noAlert());

    bus.printerClassResult = "USB write failed (0xfffffff7)";
    EXPECT_EQ(send({5}, true), "USB write failed (0xfffffff7)");
    EXPECT_EQ(alert(), "USB write failed (0xfffffff7)");
    EXPECT_TRUE(manager->isConnected());

    std::lock_guard lock(bus.mutex);
    ASSERT_EQ(bus.printerClassSends.size(), 3u);
    EXPECT_EQ(bus.printerClassSends[0].first.id, "bulk:33");
    EXPECT_EQ(bus.printerClassSends[0].first.serial, "AB12");
    EXPECT_EQ(bus.printerClassSends[1].second, protocol::Bytes{4});
}

} // namespace
