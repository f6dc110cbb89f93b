// The Bluetooth LE manager's logic over a scripted central: discovery, link, GATT discovery and
// the chunked writer, with the console lines and alerts the user sees.
#include "connection/bluetooth_manager.hpp"
#include "console_capture.hpp"
#include "fake_ble_central.hpp"
#include "tests/support/manual_clock.hpp"
#include "tests/support/wait_limit.hpp"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <numeric>

using namespace connection;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Sizes = std::vector<qsizetype>;

namespace {

const BlePeripheral kPrinter{"AA:BB:CC:DD:EE:01", "QW-T50"};
const BleCharacteristic kWritable{"FF00", "FF02", bleProperty::write | bleProperty::notify};
const std::string kCancel = "cancel AA:BB:CC:DD:EE:01";

void settle() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::processEvents();
    }
}

// A manager over a scripted central, its timers on a manual clock.
struct Rig {
    explicit Rig(RadioState state = RadioState::poweredOn) {
        auto central = std::make_unique<testing_support::FakeBleCentral>(state);
        fake = central.get();
        manager = std::make_unique<BluetoothManager>(nullptr, std::move(central));
        manager->setScheduler(clock.scheduler());
        settle(); // the first state report, and the scan it starts
    }

    // What the central reports.
    BleCentralDelegate& central() const { return *fake->delegate(); }
    // Connected, with FF02 found on FF00.
    void link() {
        manager->connect(kPrinter);
        settle();
        central().didConnect(kPrinter);
        central().didDiscoverServices(kPrinter, {"FF00"}, std::nullopt);
        central().didDiscoverCharacteristics(kPrinter, "FF00", {kWritable}, std::nullopt);
    }
    void confirm(std::optional<QString> error = std::nullopt) {
        central().didWriteValue(kPrinter, kWritable, error);
    }
    void send(const protocol::Bytes& data) {
        manager->sendData(data, [this](const DeliveryReport& r) { reports.push_back(r); });
    }
    Sizes writeSizes() const {
        Sizes sizes;
        std::ranges::transform(fake->writes, std::back_inserter(sizes),
                               [](const QByteArray& w) { return w.size(); });
        return sizes;
    }
    long count(const std::string& line) const { return std::ranges::count(console.lines(), line); }
    // The last `n` console lines.
    Lines last(std::size_t n) const {
        return Lines(console.lines().end() - static_cast<long>(n), console.lines().end());
    }

    testing_support::ConsoleCapture console;
    testing_support::ManualClock clock;
    testing_support::FakeBleCentral* fake = nullptr;
    std::unique_ptr<BluetoothManager> manager;
    std::vector<DeliveryReport> reports;
};

class BluetoothManagerTest : public testing::Test, protected Rig {};

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
        EXPECT_EQ(rig.manager->alertMessage(), alert);
        EXPECT_TRUE(rig.fake->calls.empty());
        rig.manager->setShowAlert(false);
        rig.manager->startScan();
        EXPECT_TRUE(rig.manager->showAlert());
        EXPECT_EQ(rig.manager->alertMessage(), "Please turn on Bluetooth");
    }
    Rig on;
    EXPECT_FALSE(on.manager->showAlert());
    EXPECT_EQ(on.console.lines(),
              (Lines{"Bluetooth is enabled", "Start scanning for Bluetooth devices..."}));
    EXPECT_EQ(on.fake->calls, (Lines{"stopScan", "scan"}));
}

TEST_F(BluetoothManagerTest, ScanKeepsPrintersOnlyOnceWithTheLatestRssi) {
    const BlePeripheral other{"11:22:33:44:55:66", ""};
    const BlePeripheral nameless{"AA:BB:CC:DD:EE:02", ""};
    central().didDiscover({other, std::nullopt, -40});
    central().didDiscover({other, QByteArray::fromHex("4B"), -41});
    central().didDiscover({other, QByteArray::fromHex("4C0002"), -42});
    central().didDiscover({kPrinter, QByteArray::fromHex("4B4301AB"), -63});
    central().didDiscover({nameless, QByteArray::fromHex("4B43"), -70});
    central().didDiscover({kPrinter, QByteArray::fromHex("4B4301AB"), -58});
    EXPECT_EQ(manager->discoveredDevices(), (std::vector<BlePeripheral>{kPrinter, nameless}));
    EXPECT_EQ(manager->deviceRSSI(),
              (QHash<QString, int>{{kPrinter.identifier, -58}, {nameless.identifier, -70}}));
    EXPECT_EQ(last(16),
              (Lines{"Manufacturer ID: 0x004C", "Manufacturer ID: 0x434B",
                     "\nPrinter device found:", "- Name: QW-T50", "- RSSI: -63 dBm",
                     "- Manufacturer Data: 4B4301AB", "Manufacturer ID: 0x434B",
                     "\nPrinter device found:", "- Name: Unknown Device", "- RSSI: -70 dBm",
                     "- Manufacturer Data: 4B43", "Manufacturer ID: 0x434B",
                     "\nPrinter device found:", "- Name: QW-T50", "- RSSI: -58 dBm",
                     "- Manufacturer Data: 4B4301AB"}));

    manager->startScan(); // a new scan starts from empty lists
    EXPECT_TRUE(manager->discoveredDevices().empty());
    EXPECT_TRUE(manager->deviceRSSI().isEmpty());
}

// A scan's end and a connect's time-out act only for the scan or connect that scheduled them, and
// not at all once the manager is gone.
TEST_F(BluetoothManagerTest, TimersActOnlyForWhatScheduledThem) {
    clock.advanceBy(10s);
    manager->startScan(); // the start-up scan's end is still pending
    settle();
    clock.advanceBy(5s); // the first scan's end
    EXPECT_EQ(count("Scanning finished"), 0);
    clock.advanceBy(10s); // the second scan's own end
    EXPECT_EQ(count("Scanning finished"), 1);
    EXPECT_EQ(fake->calls.back(), "stopScan");

    manager->connect(kPrinter);
    clock.advanceBy(3s);
    manager->connect(kPrinter);
    clock.advanceBy(2s); // the first attempt's time-out: the second is left alone
    EXPECT_EQ(count("Connection timeout"), 0);
    clock.advanceBy(3s);
    EXPECT_EQ(count("Connection timeout"), 1);
    EXPECT_EQ(count("Attempting to connect to device: QW-T50"), 2);
    EXPECT_EQ(std::ranges::count(fake->calls, kCancel), 1);
    EXPECT_FALSE(manager->showAlert()); // a time-out raises no alert

    // A time-out due after the manager is gone does nothing (AddressSanitizer would see its
    // central used after it was freed).
    manager->connect(kPrinter);
    manager.reset();
    clock.advanceBy(10s);
    EXPECT_EQ(count("Connection timeout"), 1);
}

// Without a scheduler of its own the manager's timers are real ones.
TEST(BluetoothManagerScan, EndsOnTheManagersOwnTimer) {
    testing_support::ConsoleCapture console;
    BluetoothManager manager(nullptr, std::make_unique<testing_support::FakeBleCentral>());
    manager.setTimings({.scanDuration = 1ms});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::ranges::count(console.lines(), "Scanning finished") == 1; },
        testing_support::kWaitMs));
}

TEST_F(BluetoothManagerTest, FindsTheFirstWritableCharacteristicAndSubscribes) {
    manager->connect(kPrinter);
    settle();
    EXPECT_EQ(fake->calls, (Lines{"stopScan", "scan", "stopScan",
                                  "connect " + kPrinter.identifier.toStdString()}));
    central().didConnect(kPrinter);
    EXPECT_TRUE(manager->hasConnectedDevice());
    central().didDiscoverServices(kPrinter, {"180A", "FF00"}, std::nullopt);
    central().didDiscoverCharacteristics(kPrinter, "180A", {{"180A", "2A29", bleProperty::read}},
                                         std::nullopt);
    EXPECT_FALSE(manager->writeCharacteristic().has_value());
    central().didDiscoverCharacteristics(kPrinter, "FF00",
                                         {{"FF00", "FF01", bleProperty::notify},
                                          kWritable,
                                          {"FF00", "FF03", bleProperty::writeWithoutResponse}},
                                         std::nullopt);
    EXPECT_EQ(manager->writeCharacteristic(), kWritable);
    EXPECT_EQ(last(11), (Lines{"Device connected, discovering services...",
                               "Services discovered: [\"180A\", \"FF00\"]",
                               "Looking for characteristics in service 180A",
                               "Looking for characteristics in service FF00",
                               "Characteristics for service 180A: [\"2A29\"]",
                               "Properties for characteristic 2A29: [read] (rawValue: 2)",
                               "Characteristics for service FF00: [\"FF01\", \"FF02\", \"FF03\"]",
                               "Properties for characteristic FF01: [notify] (rawValue: 16)",
                               "Properties for characteristic FF02: [write, notify] (rawValue: 24)",
                               "Found writable characteristic: FF02",
                               "Subscribing to characteristic notifications"}));
    EXPECT_EQ(fake->calls.back(), "notify FF02 on");

    // A writable characteristic reported later, by another service, takes over.
    central().didDiscoverCharacteristics(
        kPrinter, "FFE0", {{"FFE0", "FFE1", bleProperty::writeWithoutResponse}}, std::nullopt);
    EXPECT_EQ(manager->writeCharacteristic()->uuid, "FFE1");
    EXPECT_EQ(fake->calls.back(), "notify FF02 on") << "FFE1 does not notify";
    central().didDiscoverServices(kPrinter, {}, QString("Timed out"));
    EXPECT_EQ(last(1), Lines{"Failed to discover services: Timed out"});
}

// The reports of the central are handled in the order they came: the end of the old link to a
// printer, reported just before the new link to the same printer, does not take the new one
// down, nor does the end of a link to another device; and until a new link's discovery there is
// nothing to write to, the old link's characteristic least of all.
TEST_F(BluetoothManagerTest, DisconnectsAndReconnectsCleanWhateverTheOldLinkReportsLate) {
    manager->disconnect(); // nothing connected: nothing happens
    EXPECT_EQ(fake->calls, (Lines{"stopScan", "scan"}));
    link();
    manager->disconnect();
    EXPECT_EQ(fake->calls.back(), kCancel);
    EXPECT_FALSE(manager->writeCharacteristic().has_value());
    EXPECT_EQ(last(1), Lines{"Disconnecting device: QW-T50"});
    clock.advanceBy(500ms); // the rescan
    settle();
    EXPECT_EQ(fake->calls.back(), "scan");
    manager->connect(kPrinter);
    settle();
    central().didDisconnect(kPrinter, std::nullopt); // the old link's end
    EXPECT_FALSE(manager->hasConnectedDevice());
    central().didConnect(kPrinter); // the new link
    central().didDisconnect({"AA:BB:CC:DD:EE:09", "other"}, std::nullopt);
    EXPECT_TRUE(manager->hasConnectedDevice());
    EXPECT_FALSE(manager->showAlert());

    link();
    central().didConnect(kPrinter); // a link made again: nothing to write to until its discovery
    send({0x12, 0x54});
    EXPECT_EQ(last(1), Lines{"Printer not connected"});
    EXPECT_TRUE(reports.empty()) << "reported after sendData returned";
    settle();
    EXPECT_TRUE(fake->writes.empty());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error, "Printer not connected");
    EXPECT_FALSE(manager->showAlert());
    link();
    central().didDisconnect(kPrinter, QString("Connection reset"));
    EXPECT_FALSE(manager->hasConnectedDevice());
    EXPECT_FALSE(manager->writeCharacteristic().has_value());
    EXPECT_EQ(manager->alertMessage(), "Device disconnected: Connection reset");
    central().didFailToConnect(kPrinter, std::nullopt);
    EXPECT_EQ(manager->alertMessage(), "Connection failed: Unknown error");
    EXPECT_EQ(last(1), Lines{"Connection failed: Unknown error"});
}

TEST(BluetoothManagerWrite, ChunksFollowTheMaximumWriteLength) {
    const std::tuple<int, qsizetype, Sizes> cases[] = {
        {512, 128, {128}},          {512, 129, {128, 1}},  {512, 0, {0}},
        {512, 300, {128, 128, 44}}, {10, 45, {20, 20, 5}}, {100, 250, {100, 100, 50}},
    };
    for (const auto& [maximum, size, writes] : cases) {
        Rig rig;
        rig.fake->maximumWriteLength = maximum;
        rig.link();
        QByteArray data(size, Qt::Uninitialized);
        std::iota(data.begin(), data.end(), char{0});
        rig.send(protocol::Bytes(data.begin(), data.end()));
        settle();
        EXPECT_EQ(rig.writeSizes(), writes) << maximum << " / " << size;
        EXPECT_EQ(QByteArrayList(rig.fake->writes.begin(), rig.fake->writes.end()).join(), data);
        ASSERT_EQ(rig.reports.size(), 1u);
        EXPECT_TRUE(rig.reports[0].delivered);
    }
}

TEST_F(BluetoothManagerTest, OneChunkPerConfirmationAndShortCommandsWaitTheirTurn) {
    link();
    fake->confirmWrites = false;
    send(protocol::Bytes(300, 0xAA));
    send({0x12, 0x54});
    for (const Sizes& written : {Sizes{128}, Sizes{128, 128}, Sizes{128, 128, 44}}) {
        EXPECT_EQ(writeSizes(), written);
        EXPECT_TRUE(reports.empty());
        confirm();
    }
    ASSERT_EQ(reports.size(), 1u) << "the long command's last chunk is confirmed";
    EXPECT_EQ(writeSizes(), (Sizes{128, 128, 44, 2}));
    EXPECT_EQ(fake->writes.back(), QByteArray("\x12\x54"));
    confirm();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].delivered && reports[1].delivered);
    EXPECT_EQ(reports[0].bytesSent, 300);
}

// A payload cut short, by a failed write, by the lost link or by a printer that stopped
// confirming, fails with the bytes confirmed so far, and so does the send waiting behind it; a late
// confirmation changes nothing, and the next send starts clean.
TEST(BluetoothManagerWrite, APayloadCutShortFailsWithWhatWasConfirmed) {
    const std::tuple<std::function<void(Rig&)>, QString, long> cases[] = {
        {[](Rig& rig) { rig.confirm("Unlikely error"); }, "Write failed: Unlikely error", 1},
        {[](Rig& rig) {
             rig.central().didDisconnect(kPrinter, QString("Gone"));
             rig.link();
         },
         "Write failed: the printer disconnected", 0},
        {[](Rig& rig) { // no confirmation at all: the deadline, then a new link
             rig.clock.advanceBy(15s);
             rig.central().didDisconnect(kPrinter, std::nullopt);
             rig.link();
         },
         "Write failed: the printer took no data for 15 s (128 of 200 bytes)", 0},
    };
    for (const auto& [cut, error, consoleLines] : cases) {
        Rig rig;
        rig.link();
        rig.fake->confirmWrites = false;
        rig.send(protocol::Bytes(200, 1)); // its last chunk is in flight when it is cut
        rig.send({0x12, 0x54});
        rig.confirm();
        cut(rig);
        rig.confirm();
        EXPECT_EQ(rig.writeSizes(), (Sizes{128, 72}));
        EXPECT_EQ(rig.count("Write failed: Unlikely error"), consoleLines);
        ASSERT_EQ(rig.reports.size(), 2u);
        EXPECT_EQ(rig.reports[0].error, error);
        EXPECT_EQ(rig.reports[0].bytesSent, 128);
        EXPECT_EQ(rig.reports[0].total, 200);
        EXPECT_FALSE(rig.reports[1].delivered);
        EXPECT_EQ(rig.reports[1].bytesSent, 0);

        rig.fake->confirmWrites = true;
        rig.send(protocol::Bytes(129, 2));
        settle();
        EXPECT_EQ(rig.writeSizes(), (Sizes{128, 72, 128, 1}));
        ASSERT_EQ(rig.reports.size(), 3u);
        EXPECT_TRUE(rig.reports[2].delivered);
    }
}

} // namespace
