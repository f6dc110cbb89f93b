// The Bluetooth LE manager's logic over a scripted central: discovery, link, GATT discovery and
// the chunked writer, with the console lines and alerts the user sees.
#include "connection/bluetooth_manager.hpp"
#include "console_capture.hpp"
#include "fake_ble_central.hpp"
#include "tests/support/manual_clock.hpp"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

using namespace connection;
using namespace std::chrono_literals;
using testing_support::ConsoleCapture;
using testing_support::FakeBleCentral;

namespace {

const BlePeripheral kPrinter{"AA:BB:CC:DD:EE:01", "QW-T50"};
const BleCharacteristic kWritable{"FF00", "FF02", bleProperty::write | bleProperty::notify};

QByteArray manufacturerData(std::initializer_list<int> bytes) {
    QByteArray data;
    for (int b : bytes) {
        data.append(static_cast<char>(b));
    }
    return data;
}

void settle() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::processEvents();
    }
}

struct Rig {
    explicit Rig(RadioState state = RadioState::poweredOn) {
        auto central = std::make_unique<FakeBleCentral>(state);
        fake = central.get();
        manager = std::make_unique<BluetoothManager>(nullptr, std::move(central));
        manager->setScheduler(clock.scheduler());
        settle(); // the first state report, and the scan it starts
    }

    // Connected, with FF02 found on FF00.
    void link(int maximumWriteLength = 512) {
        fake->maximumWriteLength = maximumWriteLength;
        manager->connect(kPrinter);
        settle();
        fake->delegate()->didConnect(kPrinter);
        fake->delegate()->didDiscoverServices(kPrinter, {"FF00"}, std::nullopt);
        fake->delegate()->didDiscoverCharacteristics(kPrinter, "FF00", {kWritable}, std::nullopt);
        ASSERT_TRUE(manager->writeCharacteristic().has_value());
    }

    QByteArray written() const {
        QByteArray all;
        for (const auto& w : fake->writes) {
            all += w;
        }
        return all;
    }

    std::vector<qsizetype> writeSizes() const {
        std::vector<qsizetype> sizes;
        for (const auto& w : fake->writes) {
            sizes.push_back(w.size());
        }
        return sizes;
    }

    std::size_t count(const std::string& line) const {
        return static_cast<std::size_t>(std::ranges::count(console.lines(), line));
    }
    bool waitForLine(const std::string& line) const {
        return QTest::qWaitFor([&] { return count(line) > 0; }, 5000);
    }

    // Each send's report, by the order of the sends.
    connection::DeliveryHandler reportInto(std::vector<DeliveryReport>& reports) {
        return [&reports](const DeliveryReport& report) { reports.push_back(report); };
    }

    ConsoleCapture console;
    testing_support::ManualClock clock;
    FakeBleCentral* fake = nullptr;
    std::unique_ptr<BluetoothManager> manager;
};

TEST(BluetoothManagerState, ReportsEachRadioState) {
    const std::pair<RadioState, QString> cases[] = {
        {RadioState::unsupported, "This device does not support Bluetooth"},
        {RadioState::unauthorized, "Please authorize Bluetooth access in Settings"},
        {RadioState::poweredOff, "Please turn on Bluetooth"},
        {RadioState::unknown, "Bluetooth is unavailable: 0"},
        {RadioState::resetting, "Bluetooth is unavailable: 1"},
    };
    for (const auto& [state, alert] : cases) {
        Rig rig(state);
        EXPECT_TRUE(rig.manager->showAlert());
        EXPECT_EQ(rig.manager->alertMessage(), alert);
        EXPECT_EQ(rig.fake->calls, std::vector<std::string>{});
        rig.manager->setShowAlert(false);
        rig.manager->startScan();
        EXPECT_EQ(rig.manager->alertMessage(), "Please turn on Bluetooth");
    }
    Rig on;
    EXPECT_FALSE(on.manager->showAlert());
    EXPECT_EQ(on.console.lines(),
              (std::vector<std::string>{"Bluetooth is enabled",
                                        "Start scanning for Bluetooth devices..."}));
    EXPECT_EQ(on.fake->calls, (std::vector<std::string>{"stopScan", "scan"}));
}

TEST(BluetoothManagerScan, KeepsPrintersOnlyOnceWithTheLatestRssi) {
    Rig rig;
    auto* delegate = rig.fake->delegate();
    const BlePeripheral other{"11:22:33:44:55:66", ""};
    delegate->didDiscover({other, std::nullopt, -40});
    delegate->didDiscover({other, manufacturerData({0x4B}), -41});
    delegate->didDiscover({other, manufacturerData({0x4C, 0x00, 0x02}), -42});
    delegate->didDiscover({kPrinter, manufacturerData({0x4B, 0x43, 0x01, 0xAB}), -63});
    delegate->didDiscover({{"AA:BB:CC:DD:EE:02", ""}, manufacturerData({0x4B, 0x43}), -70});
    delegate->didDiscover({kPrinter, manufacturerData({0x4B, 0x43, 0x01, 0xAB}), -58});
    settle();

    EXPECT_EQ(rig.manager->discoveredDevices(),
              (std::vector<BlePeripheral>{kPrinter, {"AA:BB:CC:DD:EE:02", ""}}));
    EXPECT_EQ(rig.manager->deviceRSSI().value(kPrinter.identifier), -58);
    EXPECT_EQ(rig.manager->deviceRSSI().value("AA:BB:CC:DD:EE:02"), -70);
    const std::vector<std::string> expected = {
        "Manufacturer ID: 0x004C", "Manufacturer ID: 0x434B",   "\nPrinter device found:",
        "- Name: QW-T50",          "- RSSI: -63 dBm",           "- Manufacturer Data: 4B4301AB",
        "Manufacturer ID: 0x434B", "\nPrinter device found:",   "- Name: Unknown Device",
        "- RSSI: -70 dBm",         "- Manufacturer Data: 4B43",
    };
    const auto& lines = rig.console.lines();
    ASSERT_GE(lines.size(), 2 + expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2,
                                       lines.begin() + 2 + static_cast<long>(expected.size())),
              expected);

    rig.manager->startScan(); // a new scan starts from empty lists
    EXPECT_TRUE(rig.manager->discoveredDevices().empty());
    EXPECT_TRUE(rig.manager->deviceRSSI().isEmpty());
}

TEST(BluetoothManagerScan, AnEarlierScansEndDoesNotCutANewerScanShort) {
    Rig rig;
    rig.clock.advanceBy(10s);
    rig.manager->startScan(); // the start-up scan's end is still pending
    settle();
    rig.clock.advanceBy(5s); // the first scan's end
    EXPECT_EQ(rig.count("Scanning finished"), 0u);
    rig.clock.advanceBy(10s); // the second scan's own end
    EXPECT_EQ(rig.count("Scanning finished"), 1u);
    EXPECT_EQ(rig.fake->calls.back(), "stopScan");
}

TEST(BluetoothManagerLink, ConnectTimeOutBelongsToItsAttempt) {
    Rig rig;
    rig.manager->connect(kPrinter);
    rig.clock.advanceBy(3s);
    rig.manager->connect(kPrinter);
    rig.clock.advanceBy(2s); // the first attempt's time-out: the second is left alone
    EXPECT_EQ(rig.count("Connection timeout"), 0u);
    rig.clock.advanceBy(3s);
    EXPECT_EQ(rig.count("Connection timeout"), 1u);
    EXPECT_EQ(rig.count("Attempting to connect to device: QW-T50"), 2u);
    EXPECT_EQ(std::ranges::count(rig.fake->calls, "cancel " + kPrinter.identifier.toStdString()),
              1);
    EXPECT_FALSE(rig.manager->showAlert()); // a time-out raises no alert
}

TEST(BluetoothManagerLink, FindsTheFirstWritableCharacteristicAndSubscribes) {
    Rig rig;
    rig.manager->connect(kPrinter);
    settle();
    auto* delegate = rig.fake->delegate();
    delegate->didConnect(kPrinter);
    EXPECT_TRUE(rig.manager->hasConnectedDevice());
    delegate->didDiscoverServices(kPrinter, {"180A", "FF00"}, std::nullopt);
    delegate->didDiscoverCharacteristics(kPrinter, "180A", {{"180A", "2A29", bleProperty::read}},
                                         std::nullopt);
    EXPECT_FALSE(rig.manager->writeCharacteristic().has_value());
    delegate->didDiscoverCharacteristics(kPrinter, "FF00",
                                         {{"FF00", "FF01", bleProperty::notify},
                                          kWritable,
                                          {"FF00", "FF03", bleProperty::writeWithoutResponse}},
                                         std::nullopt);
    EXPECT_EQ(rig.manager->writeCharacteristic(), kWritable);

    const std::vector<std::string> tail = {
        "Device connected, discovering services...",
        "Services discovered: [\"180A\", \"FF00\"]",
        "Looking for characteristics in service 180A",
        "Looking for characteristics in service FF00",
        "Characteristics for service 180A: [\"2A29\"]",
        "Properties for characteristic 2A29: [read] (rawValue: 2)",
        "Characteristics for service FF00: [\"FF01\", \"FF02\", \"FF03\"]",
        "Properties for characteristic FF01: [notify] (rawValue: 16)",
        "Properties for characteristic FF02: [write, notify] (rawValue: 24)",
        "Found writable characteristic: FF02",
        "Subscribing to characteristic notifications",
    };
    const auto& lines = rig.console.lines();
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(tail.size()), lines.end()),
              tail);
    EXPECT_EQ(rig.fake->calls.back(), "notify FF02 on");

    // A writable characteristic reported later, by another service, takes over.
    delegate->didDiscoverCharacteristics(
        kPrinter, "FFE0", {{"FFE0", "FFE1", bleProperty::writeWithoutResponse}}, std::nullopt);
    EXPECT_EQ(rig.manager->writeCharacteristic()->uuid, "FFE1");

    delegate->didDiscoverServices(kPrinter, {}, QString("Timed out"));
    EXPECT_EQ(lines.back(), "Failed to discover services: Timed out");
}

TEST(BluetoothManagerLink, DisconnectsAndReportsLostLinks) {
    Rig rig;
    rig.manager->disconnect(); // nothing connected: nothing happens
    EXPECT_EQ(rig.fake->calls, (std::vector<std::string>{"stopScan", "scan"}));

    rig.link();
    rig.fake->calls.clear();
    rig.manager->disconnect();
    EXPECT_EQ(rig.fake->calls,
              std::vector<std::string>{"cancel " + kPrinter.identifier.toStdString()});
    EXPECT_FALSE(rig.manager->writeCharacteristic().has_value());
    EXPECT_EQ(rig.console.lines().back(), "Disconnecting device: QW-T50");
    rig.fake->delegate()->didDisconnect(kPrinter, std::nullopt);
    EXPECT_FALSE(rig.manager->hasConnectedDevice());
    EXPECT_FALSE(rig.manager->showAlert());
    rig.clock.advanceBy(500ms); // the rescan
    settle();
    EXPECT_EQ(rig.fake->calls.back(), "scan");

    rig.link();
    rig.fake->delegate()->didDisconnect({"AA:BB:CC:DD:EE:09", "old"}, std::nullopt);
    EXPECT_TRUE(rig.manager->hasConnectedDevice()) << "the end of another link";
    rig.fake->delegate()->didDisconnect(kPrinter, QString("Connection reset"));
    EXPECT_FALSE(rig.manager->hasConnectedDevice());
    EXPECT_EQ(rig.manager->alertMessage(), "Device disconnected: Connection reset");

    rig.fake->delegate()->didFailToConnect(kPrinter, std::nullopt);
    EXPECT_EQ(rig.manager->alertMessage(), "Connection failed: Unknown error");
    EXPECT_EQ(rig.console.lines().back(), "Connection failed: Unknown error");
}

// The reports of the central are handled in the order they came: the end of the old link to a
// printer, reported just before the new link to the same printer, must not take the new one
// down; and the old link's characteristic is never written to on the new one.
TEST(BluetoothManagerLink, AReconnectStartsCleanWhateverTheOldLinkReportsLate) {
    // The end of the old link to a printer, reported just before the new link to the same
    // printer, must not take the new one down: reports are handled in the order they came.
    Rig rig;
    rig.link();
    rig.manager->disconnect();
    rig.manager->connect(kPrinter);
    settle();
    rig.fake->delegate()->didDisconnect(kPrinter, std::nullopt); // the old link's end
    rig.fake->delegate()->didConnect(kPrinter);                  // the new link
    settle();
    EXPECT_TRUE(rig.manager->hasConnectedDevice());

    // A link lost and made again: until its discovery there is nothing to write to, and the
    // old link's characteristic is never used on the new one.
    rig.link();
    rig.fake->delegate()->didDisconnect(kPrinter, QString("Gone"));
    rig.manager->connect(kPrinter);
    settle();
    rig.fake->delegate()->didConnect(kPrinter);
    const auto writesBefore = rig.fake->writes.size();
    std::vector<DeliveryReport> reports;
    rig.manager->sendData({0x12, 0x54}, rig.reportInto(reports));
    settle();
    EXPECT_EQ(rig.fake->writes.size(), writesBefore);
    EXPECT_EQ(rig.console.lines().back(), "Printer not connected");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error, "Printer not connected");
}

TEST(BluetoothManagerWrite, ChunksFollowTheMaximumWriteLength) {
    struct Case {
        int maximumWriteLength;
        std::size_t bytes;
        std::vector<qsizetype> writes;
    };
    const Case cases[] = {
        {512, 128, {128}},          {512, 129, {128, 1}},  {512, 0, {0}},
        {512, 300, {128, 128, 44}}, {10, 45, {20, 20, 5}}, {100, 250, {100, 100, 50}},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.link(c.maximumWriteLength);
        protocol::Bytes bytes(c.bytes);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(i);
        }
        std::vector<DeliveryReport> reports;
        rig.manager->sendData(bytes, rig.reportInto(reports));
        settle();
        EXPECT_EQ(rig.writeSizes(), c.writes) << c.maximumWriteLength << " / " << c.bytes;
        EXPECT_EQ(rig.written(), QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<qsizetype>(bytes.size())));
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0].delivered);
    }
}

TEST(BluetoothManagerWrite, OneChunkPerConfirmationAndShortCommandsWaitTheirTurn) {
    Rig rig;
    rig.link();
    rig.fake->confirmWrites = false;
    std::vector<DeliveryReport> reports;
    rig.manager->sendData(protocol::Bytes(300, 0xAA), rig.reportInto(reports));
    rig.manager->sendData({0x12, 0x54}, rig.reportInto(reports));
    EXPECT_EQ(rig.writeSizes(), std::vector<qsizetype>{128});
    for (std::size_t written = 1; written < 3; ++written) {
        rig.fake->delegate()->didWriteValue(kPrinter, kWritable, std::nullopt);
        EXPECT_TRUE(reports.empty()) << written;
    }
    rig.fake->delegate()->didWriteValue(kPrinter, kWritable, std::nullopt);
    EXPECT_EQ(reports.size(), 1u) << "the long command's last chunk is confirmed";
    rig.fake->delegate()->didWriteValue(kPrinter, kWritable, std::nullopt);
    EXPECT_EQ(rig.writeSizes(), (std::vector<qsizetype>{128, 128, 44, 2}));
    EXPECT_EQ(rig.fake->writes.back(), QByteArray("\x12\x54"));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].delivered && reports[1].delivered);
    EXPECT_EQ(reports[0].bytesSent, 300);
}

TEST(BluetoothManagerWrite, AFailedWriteDropsTheRestAndTheNextSendStartsClean) {
    Rig rig;
    rig.link();
    rig.fake->failingWrites = {2};
    std::vector<DeliveryReport> reports;
    rig.manager->sendData(protocol::Bytes(300, 1), rig.reportInto(reports));
    rig.manager->sendData({0x12, 0x54}, rig.reportInto(reports)); // waits behind it
    settle();
    EXPECT_EQ(rig.writeSizes(), (std::vector<qsizetype>{128, 128}));
    EXPECT_EQ(rig.console.lines().back(), "Write failed: Unlikely error");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].error, "Write failed: Unlikely error");
    EXPECT_EQ(reports[0].bytesSent, 128);
    EXPECT_EQ(reports[1].bytesSent, 0);
    EXPECT_FALSE(reports[1].delivered);

    rig.manager->sendData(protocol::Bytes(129, 2), rig.reportInto(reports));
    settle();
    EXPECT_EQ(rig.writeSizes(), (std::vector<qsizetype>{128, 128, 128, 1}));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(reports[2].delivered);
}

TEST(BluetoothManagerWrite, WithoutAPrinterNothingIsWritten) {
    Rig rig;
    std::vector<DeliveryReport> reports;
    rig.manager->sendData({0x12, 0x54}, rig.reportInto(reports));
    EXPECT_EQ(rig.console.lines().back(), "Printer not connected");
    EXPECT_TRUE(reports.empty()) << "reported after sendData returned";
    settle();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].delivered);
    EXPECT_TRUE(rig.fake->writes.empty());
    EXPECT_FALSE(rig.manager->showAlert());

    // A link lost in the middle of a payload fails it and leaves no writer waiting for
    // confirmations.
    rig.link();
    rig.fake->confirmWrites = false;
    rig.manager->sendData(protocol::Bytes(300, 3), rig.reportInto(reports));
    rig.fake->delegate()->didDisconnect(kPrinter, QString("Gone"));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_FALSE(reports[1].delivered);
    rig.link();
    rig.fake->confirmWrites = true;
    rig.manager->sendData(protocol::Bytes(129, 4), rig.reportInto(reports));
    settle();
    EXPECT_EQ(rig.writeSizes(), (std::vector<qsizetype>{128, 128, 1}));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(reports[2].delivered);
}

} // namespace
