// The Bluetooth LE manager on the real Qt Bluetooth central, against the fake bluetoothd.
#include "connection/bluetooth_manager.hpp"
#include "tests/ble/fake_bluez.hpp"
#include "tests/ble/gtest_printers.hpp"
#include "tests/connection/console_capture.hpp"
#include "tests/support/process.hpp"

#include <QSignalSpy>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace ble_testing {
namespace {

using connection::BlePeripheral;
using connection::BluetoothManager;
using testing::Contains;
using testing::ElementsAre;

const QString kPrinter = QStringLiteral("AA:BB:CC:DD:EE:01");
const BlePeripheral kPrinterPeripheral{kPrinter, QStringLiteral("Counter Printer")};
constexpr int kWaitMs = static_cast<int>(testing_support::kWaitLimit.count());

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, kWaitMs);
}

QByteArray pattern(int size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + i * 13);
    }
    return bytes;
}

protocol::Bytes toBytes(const QByteArray& bytes) {
    return protocol::Bytes(bytes.begin(), bytes.end());
}

class BluetoothManagerBleTest : public testing::Test {
protected:
    void start(FakeBluez::Options options = {}) {
        fake.emplace(options);
        if (options.adapter) {
            fake->addAdvertiser(kPrinter, kPrinterPeripheral.name, -45, 0x434B,
                                QByteArray::fromHex("0102A0"));
            fake->addAdvertiser("AA:BB:CC:DD:EE:02", "Headphones", -70, 0x004C,
                                QByteArray::fromHex("1005"));
        }
        manager = std::make_unique<BluetoothManager>();
    }

    bool printed(const std::string& line) const {
        return std::ranges::find(console.lines(), line) != console.lines().end();
    }

    // The scan that starts by itself lists the printer; then the manager connects to it.
    void connectPrinter() {
        ASSERT_TRUE(waitFor([&] { return !manager->discoveredDevices().empty(); }));
        QSignalSpy ready(manager.get(), &BluetoothManager::writeCharacteristicReady);
        manager->connect(manager->discoveredDevices().front());
        ASSERT_TRUE(ready.wait(kWaitMs));
    }

    std::vector<QByteArray> writtenValues() {
        std::vector<QByteArray> values;
        for (const FakeBluez::Write& write : fake->writes()) {
            EXPECT_EQ(write.type, "request");
            values.push_back(write.value);
        }
        return values;
    }

    std::optional<FakeBluez> fake;
    testing_support::ConsoleCapture console;
    std::unique_ptr<BluetoothManager> manager;
};

TEST_F(BluetoothManagerBleTest, ScanListsPrintersOnly) {
    start();
    ASSERT_TRUE(waitFor([&] {
        return !manager->discoveredDevices().empty() && printed("Manufacturer ID: 0x004C");
    }));
    EXPECT_THAT(manager->discoveredDevices(), ElementsAre(kPrinterPeripheral));
    EXPECT_EQ(manager->deviceRSSI(), (QHash<QString, int>{{kPrinter, -45}}));
    EXPECT_TRUE(printed("- Manufacturer Data: 4B430102A0"));
}

TEST_F(BluetoothManagerBleTest, ConnectSubscribesAndWritesInChunksWithResponse) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    EXPECT_EQ(manager->connectedDevice(), kPrinterPeripheral);
    EXPECT_EQ(manager->writeCharacteristic()->uuid, "FF02");
    // The subscription is asked for as the characteristic is chosen, and confirmed later.
    EXPECT_TRUE(waitFor([&] { return fake->isNotifying(kPrinter); }));
    EXPECT_TRUE(printed("Services discovered: [\"1801\", \"FF00\"]"));

    const QByteArray command = pattern(300, 1);
    std::optional<connection::DeliveryReport> report;
    manager->sendData(toBytes(command), [&](const auto& r) { report = r; });
    ASSERT_TRUE(waitFor([&] { return report.has_value(); }));
    EXPECT_TRUE(report->delivered);
    EXPECT_THAT(writtenValues(),
                ElementsAre(command.mid(0, 128), command.mid(128, 128), command.mid(256)));
}

TEST_F(BluetoothManagerBleTest, FailedWriteDropsTheRestAndTheNextSendWorks) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    const QByteArray command = pattern(300, 2);
    fake->failNext("WriteValue", "Operation failed with ATT error: 0x0e", 1);
    std::vector<connection::DeliveryReport> reports;
    const auto record = [&](const connection::DeliveryReport& r) { reports.push_back(r); };
    manager->sendData(toBytes(command), record);
    ASSERT_TRUE(waitFor([&] { return reports.size() == 1; }));
    EXPECT_FALSE(reports[0].delivered);
    EXPECT_THAT(console.lines(), Contains(testing::StartsWith("Write failed: ")));

    const QByteArray next = pattern(10, 3);
    manager->sendData(toBytes(next), record);
    ASSERT_TRUE(waitFor([&] { return reports.size() == 2; }));
    EXPECT_TRUE(reports[1].delivered);
    EXPECT_THAT(writtenValues(), ElementsAre(command.mid(0, 128), next));
}

TEST_F(BluetoothManagerBleTest, LostLinkRaisesAnAlert) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    fake->dropLink(kPrinter);
    ASSERT_TRUE(waitFor([&] { return manager->showAlert(); }));
    EXPECT_EQ(manager->alertMessage(),
              "Device disconnected: The connection to the device was lost");
    EXPECT_EQ(manager->connectedDevice(), std::nullopt);
}

struct RadioAlertCase {
    const char* name;
    FakeBluez::Options options;
    const char* alert;
};

void PrintTo(const RadioAlertCase& c, std::ostream* out) {
    *out << c.name;
}

class RadioAlertTest : public BluetoothManagerBleTest,
                       public testing::WithParamInterface<RadioAlertCase> {};

TEST_P(RadioAlertTest, RadioThatCannotScanRaisesItsAlert) {
    start(GetParam().options);
    ASSERT_TRUE(waitFor([&] { return manager->showAlert(); }));
    EXPECT_EQ(manager->alertMessage(), GetParam().alert);
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioAlertTest,
                         testing::Values(RadioAlertCase{"PoweredOff",
                                                        {.adapter = true, .powered = false},
                                                        "Please turn on Bluetooth"},
                                         RadioAlertCase{"NoAdapter",
                                                        {.adapter = false},
                                                        "This device does not support Bluetooth"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace ble_testing
