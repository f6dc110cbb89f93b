// The Qt Bluetooth central over its real BlueZ D-Bus code path, against the fake bluetoothd.
#include "connection/ble/ble_central.hpp"
#include "tests/ble/fake_bluez.hpp"

#include <QTest>
#include <QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ble_testing {
namespace {

using namespace connection;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::StartsWith;
using Error = std::optional<QString>;

// Records what a central reports, one line per report in order of arrival ("connect
// AA:BB:CC:DD:EE:01", "write FF02: <error>"), and every report that breaks the delegate's rules:
// off the main thread, or from inside a call the test made (wrap calls in `call`).
class RecordingDelegate : public BleCentralDelegate {
public:
    std::vector<std::string> reports;
    std::vector<std::string> violations;

    void call(const std::function<void()>& operation) {
        inside_ = true;
        operation();
        inside_ = false;
    }
    // The reports that start with `kind`, in order.
    std::vector<std::string> only(const std::string& kind) const {
        std::vector<std::string> matching;
        std::ranges::copy_if(reports, std::back_inserter(matching),
                             [&](const std::string& report) { return report.starts_with(kind); });
        return matching;
    }

    void centralDidUpdateState(RadioState state) override {
        add("state " + QString::number(static_cast<int>(state)));
    }
    void didDiscover(const BleAdvertisement& a) override {
        add("discovery " + a.peripheral.identifier + " \"" + a.peripheral.name + "\" " +
            (a.manufacturerData ? a.manufacturerData->toHex().toUpper() : "none") + " " +
            QString::number(a.rssi));
    }
    void didConnect(const BlePeripheral& peripheral) override {
        add("connect " + peripheral.identifier);
    }
    void didFailToConnect(const BlePeripheral& peripheral, const Error& error) override {
        add("failed connect " + peripheral.identifier, error);
    }
    void didDisconnect(const BlePeripheral& peripheral, const Error& error) override {
        add("disconnect " + peripheral.identifier, error);
    }
    void didDiscoverServices(const BlePeripheral&, const QStringList& uuids,
                             const Error& error) override {
        add("services " + uuids.join(' '), error);
    }
    void didDiscoverCharacteristics(const BlePeripheral&, const QString& service,
                                    const std::vector<BleCharacteristic>& list,
                                    const Error& error) override {
        QString text = "characteristics " + service;
        for (const BleCharacteristic& c : list) {
            text += QStringLiteral(" %1/%2/%3").arg(c.serviceUuid, c.uuid).arg(c.properties);
        }
        add(text, error);
    }
    void didWriteValue(const BlePeripheral&, const BleCharacteristic& c,
                       const Error& error) override {
        add("write " + c.uuid, error);
    }
    void didUpdateNotificationState(const BlePeripheral&, const BleCharacteristic& c,
                                    const Error& error) override {
        add("notification state " + c.uuid, error);
    }
    void didUpdateValue(const BlePeripheral&, const BleCharacteristic& c,
                        const QByteArray& value) override {
        add("value " + c.uuid + " " + value.toHex().toUpper());
    }

private:
    void add(const QString& report, const Error& error = std::nullopt) {
        reports.push_back((error ? report + ": " + *error : report).toStdString());
        if (inside_) {
            violations.push_back(reports.back() + " reported from inside the call");
        }
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
            violations.push_back(reports.back() + " reported off the main thread");
        }
    }

    bool inside_ = false;
};

const QString kPrinter = QStringLiteral("AA:BB:CC:DD:EE:01");
const std::string kPrinterId = kPrinter.toStdString();
const BlePeripheral kPrinterPeripheral{kPrinter, QStringLiteral("Counter Printer")};
const BleCharacteristic kWriteCharacteristic{QStringLiteral("FF00"), QStringLiteral("FF02"), 0x18};

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, static_cast<int>(testing_support::kWaitLimit.count()));
}

std::string stateReport(RadioState state) {
    return "state " + std::to_string(static_cast<int>(state));
}

class QtBleCentralTest : public testing::Test {
public:
    QtBleCentralTest() { central->setDelegate(&delegate); }
    void TearDown() override { EXPECT_THAT(delegate.violations, IsEmpty()); }

    void addPrinter() {
        fake.addAdvertiser(kPrinter, kPrinterPeripheral.name, -45, 0x434B,
                           QByteArray::fromHex("0102A0"));
    }
    // Waits for `count` reports of `kind`.
    bool waitForReports(const std::string& kind, std::size_t count) {
        return waitFor([&] { return delegate.only(kind).size() >= count; });
    }
    void connectPeripheral() {
        delegate.call([&] { central->connectPeripheral(kPrinterPeripheral); });
    }
    void cancel() {
        delegate.call([&] { central->cancelPeripheralConnection(kPrinterPeripheral); });
    }

    // The printer scanned for, connected, and its service FF00 explored.
    void connectPrinter() {
        addPrinter();
        delegate.call([&] { central->scanForPeripherals(); });
        ASSERT_TRUE(waitForReports("discovery " + kPrinterId, 1));
        delegate.call([&] { central->stopScan(); });
        connectPeripheral();
        ASSERT_TRUE(waitForReports("connect", 1));
        delegate.call([&] { central->discoverServices(kPrinterPeripheral); });
        ASSERT_TRUE(waitForReports("services", 1));
        delegate.call([&] { central->discoverCharacteristics(kPrinterPeripheral, "FF00"); });
        ASSERT_TRUE(waitForReports("characteristics FF00", 1));
    }

    // Declared first: the fake daemon is up before the central and outlives it.
    FakeBluez fake;
    RecordingDelegate delegate;
    std::unique_ptr<BleCentral> central = makeSystemBleCentral();
};

// The first report comes after the central's creation; then one follows each change of the adapter.
TEST_F(QtBleCentralTest, StateIsReportedAfterCreationAndFollowsTheAdapter) {
    EXPECT_THAT(delegate.reports, IsEmpty());
    const std::pair<std::function<void()>, RadioState> steps[] = {
        {[] {}, RadioState::poweredOn},
        {[&] { fake.setPowered(false); }, RadioState::poweredOff},
        {[&] { fake.setPowered(true); }, RadioState::poweredOn},
        {[&] { fake.removeAdapter(); }, RadioState::unsupported},
        {[&] { fake.addAdapter(); }, RadioState::poweredOn},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        ASSERT_TRUE(waitForReports("state", i + 1));
        EXPECT_EQ(delegate.reports.back(), stateReport(steps[i].second));
        EXPECT_EQ(central->state(), steps[i].second);
    }
    EXPECT_EQ(delegate.reports.size(), std::size(steps));
}

TEST_F(QtBleCentralTest, ScanReportsAdvertisersUntilStopped) {
    addPrinter();
    fake.addAdvertiser("AA:BB:CC:DD:EE:02", "Headphones", -70, 0x004C, QByteArray::fromHex("1005"));
    fake.addAdvertiser("AA:BB:CC:DD:EE:03", "", -80);
    delegate.call([&] { central->scanForPeripherals(); });
    // BlueZ shows a nameless device under an alias made of its address; that is no name.
    const std::string expected[] = {
        "discovery " + kPrinterId + " \"Counter Printer\" 4B430102A0 -45",
        "discovery AA:BB:CC:DD:EE:02 \"Headphones\" 4C001005 -70",
        "discovery AA:BB:CC:DD:EE:03 \"\" none -80",
    };
    for (const std::string& report : expected) {
        EXPECT_TRUE(waitFor([&] { return std::ranges::count(delegate.reports, report) > 0; }))
            << report;
    }
    // A later sighting with a new signal strength is reported again.
    fake.addAdvertiser(kPrinter, kPrinterPeripheral.name, -52, 0x434B,
                       QByteArray::fromHex("0102A0"));
    ASSERT_TRUE(waitFor([&] { return delegate.reports.back().ends_with(" -52"); }));

    delegate.call([&] { central->stopScan(); });
    const std::size_t reported = delegate.reports.size();
    addPrinter();
    // The power report travels the same bus after the advertisement: once it is here, a report
    // of the advertisement would have been too.
    fake.setPowered(false);
    ASSERT_TRUE(waitForReports("state", 2));
    EXPECT_EQ(delegate.reports.size(), reported + 1);
}

TEST_F(QtBleCentralTest, ConnectedPrinterIsExploredWrittenAndNotifies) {
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    for (const char* service : {"1801", "180F"}) {
        delegate.call([&] { central->discoverCharacteristics(kPrinterPeripheral, service); });
    }
    ASSERT_TRUE(waitForReports("characteristics 180F", 1));
    EXPECT_THAT(delegate.only("connect"), ElementsAre("connect " + kPrinterId));
    EXPECT_THAT(delegate.only("services"), ElementsAre("services 1801 FF00"));
    EXPECT_THAT(delegate.only("characteristics"),
                ElementsAre("characteristics FF00 FF00/FF02/24",
                            "characteristics 1801 1801/2A05/32",
                            "characteristics 180F: The device has no service 180F"));
    // BlueZ writes long values itself: the attribute's limit, not the link's, bounds a write.
    EXPECT_EQ(central->maximumWriteValueLength(kPrinterPeripheral), 512);

    // Each write is answered once, in order; the one that fails reports it, the next goes on.
    fake.failNext("WriteValue", "Operation failed with ATT error: 0x0e", 2);
    const QByteArray values[] = {QByteArray(300, '\x1b'), "A", "B", "C"};
    for (const QByteArray& value : values) {
        delegate.call(
            [&] { central->writeValue(kPrinterPeripheral, kWriteCharacteristic, value); });
    }
    ASSERT_TRUE(waitForReports("write", 4));
    EXPECT_THAT(delegate.only("write"),
                ElementsAre("write FF02", "write FF02",
                            "write FF02: The device did not accept the write", "write FF02"));
    EXPECT_THAT(fake.writes(), ElementsAre(values[0], "A", "C"));

    delegate.call([&] { central->setNotifyValue(kPrinterPeripheral, kWriteCharacteristic, true); });
    ASSERT_TRUE(waitForReports("notification state", 1));
    fake.notify(kPrinter, QByteArray::fromHex("1F2001")); // sent only while notifications are on
    ASSERT_TRUE(waitForReports("value", 1));
    fake.failNext("StartNotify", "Operation failed");
    delegate.call([&] { central->setNotifyValue(kPrinterPeripheral, kWriteCharacteristic, true); });
    ASSERT_TRUE(waitForReports("notification state", 2));
    EXPECT_THAT(
        delegate.only("notification state"),
        ElementsAre("notification state FF02",
                    "notification state FF02: The device did not accept the descriptor write"));
    EXPECT_THAT(delegate.only("value"), ElementsAre("value FF02 1F2001"));

    // A lost link is reported once, and so is the write still outstanding on it.
    delegate.call(
        [&] { central->writeValue(kPrinterPeripheral, kWriteCharacteristic, "outstanding"); });
    fake.dropLink(kPrinter);
    ASSERT_TRUE(waitForReports("disconnect", 1));
    EXPECT_THAT(
        delegate.only("disconnect"),
        ElementsAre("disconnect " + kPrinterId + ": The connection to the device was lost"));
    EXPECT_EQ(delegate.only("write").size(), 5u);
}

// Every attempt ends in one report, and a cancelled one in none: a failed connect (no scan came
// first, so the central looks for the device BlueZ does not know yet), its retry, a reconnect
// while the old link still closes, a link cancelled, and an attempt abandoned while Qt is
// talking to BlueZ.
TEST_F(QtBleCentralTest, ConnectAttemptsEndInOneReportEach) {
    addPrinter();
    fake.failNext("Connect", "le-connection-abort-by-local");
    connectPeripheral();
    ASSERT_TRUE(waitForReports("failed connect", 1));
    connectPeripheral();
    ASSERT_TRUE(waitForReports("connect", 1));
    cancel();
    connectPeripheral();
    ASSERT_TRUE(waitForReports("connect", 2));

    cancel();
    ASSERT_TRUE(waitForReports("disconnect", 2));
    EXPECT_FALSE(fake.isConnected(kPrinter));
    connectPeripheral();
    QCoreApplication::processEvents(); // the posted start of the attempt: Qt asks BlueZ
    cancel();
    connectPeripheral();
    ASSERT_TRUE(waitForReports("connect", 3));
    EXPECT_THAT(delegate.reports, ElementsAre(stateReport(RadioState::poweredOn),
                                              StartsWith("failed connect " + kPrinterId + ": "),
                                              "connect " + kPrinterId, "disconnect " + kPrinterId,
                                              "connect " + kPrinterId, "disconnect " + kPrinterId,
                                              "connect " + kPrinterId));
}

} // namespace
} // namespace ble_testing
