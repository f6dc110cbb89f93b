// The Qt Bluetooth central over its real BlueZ D-Bus code path, against the fake bluetoothd.
#include "connection/ble/ble_central.hpp"
#include "tests/ble/fake_bluez.hpp"
#include "tests/ble/recording_delegate.hpp"
#include "tests/support/process.hpp"

#include <QCoreApplication>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>

namespace ble_testing {
namespace {

using connection::BleCentral;
using testing::ElementsAre;
using testing::IsEmpty;

const QString kPrinter = QStringLiteral("AA:BB:CC:DD:EE:01");
const QString kForeign = QStringLiteral("AA:BB:CC:DD:EE:02");
const QString kNameless = QStringLiteral("AA:BB:CC:DD:EE:03");
const BlePeripheral kPrinterPeripheral{kPrinter, QStringLiteral("Counter Printer")};
const BleCharacteristic kWriteCharacteristic{QStringLiteral("FF00"), QStringLiteral("FF02"), 0x18};
constexpr std::uint16_t kPrinterCompany = 0x434B;

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, static_cast<int>(testing_support::kWaitLimit.count()));
}

class QtBleCentralTest : public testing::Test {
public:
    void start(FakeBluez::Options options = {}) {
        fake.emplace(options);
        central = connection::makeSystemBleCentral();
        central->setDelegate(&delegate);
    }

    void TearDown() override { EXPECT_THAT(delegate.violations, IsEmpty()); }

    void addPrinter() {
        fake->addAdvertiser(kPrinter, kPrinterPeripheral.name, -45, kPrinterCompany,
                            QByteArray::fromHex("0102A0"));
    }

    std::optional<BleAdvertisement> lastReport(const QString& identifier) const {
        std::optional<BleAdvertisement> last;
        for (const BleAdvertisement& report : delegate.discoveries) {
            if (report.peripheral.identifier == identifier) {
                last = report;
            }
        }
        return last;
    }

    // The printer scanned for, and a connect to it asked for.
    void startConnecting() {
        addPrinter();
        delegate.call([&] { central->scanForPeripherals(); });
        ASSERT_TRUE(waitFor([&] { return lastReport(kPrinter).has_value(); }));
        delegate.call([&] {
            central->stopScan();
            central->connectPeripheral(kPrinterPeripheral);
        });
    }

    // The printer scanned for, connected, and its service FF00 explored.
    void connectPrinter() {
        startConnecting();
        ASSERT_TRUE(waitFor([&] { return !delegate.connected.empty(); }));
        delegate.call([&] { central->discoverServices(kPrinterPeripheral); });
        ASSERT_TRUE(waitFor([&] { return !delegate.services.empty(); }));
        delegate.call([&] { central->discoverCharacteristics(kPrinterPeripheral, "FF00"); });
        ASSERT_TRUE(waitFor([&] { return delegate.characteristics.count("FF00") == 1; }));
    }

    void write(const QByteArray& value) {
        delegate.call(
            [&] { central->writeValue(kPrinterPeripheral, kWriteCharacteristic, value); });
    }

    // Declared first: the fake daemon outlives the central that talks to it.
    std::optional<FakeBluez> fake;
    RecordingDelegate delegate;
    std::unique_ptr<BleCentral> central;
};

struct RadioCase {
    const char* name;
    FakeBluez::Options options;
    RadioState expected;
};

void PrintTo(const RadioCase& c, std::ostream* out) {
    *out << c.name;
}

class RadioStateTest : public QtBleCentralTest, public testing::WithParamInterface<RadioCase> {};

TEST_P(RadioStateTest, FirstReportComesAfterCreation) {
    start(GetParam().options);
    EXPECT_THAT(delegate.states, IsEmpty());
    ASSERT_TRUE(waitFor([&] { return !delegate.states.empty(); }));
    EXPECT_THAT(delegate.states, ElementsAre(GetParam().expected));
    EXPECT_EQ(central->state(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Adapter, RadioStateTest,
    testing::Values(RadioCase{"Powered", {.adapter = true, .powered = true}, RadioState::poweredOn},
                    RadioCase{
                        "PoweredOff", {.adapter = true, .powered = false}, RadioState::poweredOff},
                    RadioCase{"Missing", {.adapter = false}, RadioState::unsupported}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QtBleCentralTest, StateFollowsPowerAndAdapterChanges) {
    start();
    ASSERT_TRUE(waitFor([&] { return delegate.states.size() == 1; }));
    const auto stepTo = [&](const std::function<void()>& change, RadioState state) {
        const auto before = delegate.states.size();
        change();
        return waitFor([&] { return delegate.states.size() > before; }) &&
               delegate.states.back() == state && central->state() == state;
    };
    EXPECT_TRUE(stepTo([&] { fake->setPowered(false); }, RadioState::poweredOff));
    EXPECT_TRUE(stepTo([&] { fake->setPowered(true); }, RadioState::poweredOn));
    EXPECT_TRUE(stepTo([&] { fake->removeAdapter(); }, RadioState::unsupported));
    EXPECT_TRUE(stepTo([&] { fake->addAdapter(true); }, RadioState::poweredOn));
    EXPECT_THAT(delegate.states,
                ElementsAre(RadioState::poweredOn, RadioState::poweredOff, RadioState::poweredOn,
                            RadioState::unsupported, RadioState::poweredOn));
}

TEST_F(QtBleCentralTest, ScanReportsAdvertisersUntilStopped) {
    start();
    addPrinter();
    fake->addAdvertiser(kForeign, "Headphones", -70, 0x004C, QByteArray::fromHex("1005"));
    fake->addAdvertiser(kNameless, "", -80, 0, {});
    delegate.call([&] { central->scanForPeripherals(); });
    ASSERT_TRUE(waitFor(
        [&] { return lastReport(kPrinter) && lastReport(kForeign) && lastReport(kNameless); }));

    struct Expected {
        QString identifier;
        QString name;
        std::optional<QByteArray> manufacturerData;
        int rssi;
    };
    const Expected expected[] = {
        {kPrinter, kPrinterPeripheral.name, QByteArray::fromHex("4B430102A0"), -45},
        {kForeign, "Headphones", QByteArray::fromHex("4C001005"), -70},
        // BlueZ shows a nameless device under an alias made of its address; that is no name.
        {kNameless, "", std::nullopt, -80},
    };
    for (const Expected& device : expected) {
        SCOPED_TRACE(device.identifier.toStdString());
        const auto report = lastReport(device.identifier);
        EXPECT_EQ(report->peripheral.name, device.name);
        EXPECT_EQ(report->manufacturerData, device.manufacturerData);
        EXPECT_EQ(report->rssi, device.rssi);
    }

    // A later sighting with a new signal strength is reported again.
    fake->setRssi(kPrinter, -52);
    ASSERT_TRUE(waitFor([&] { return lastReport(kPrinter)->rssi == -52; }));

    delegate.call([&] { central->stopScan(); });
    fake->setRssi(kPrinter, -60);
    // The power report travels the same bus after the RSSI change: once it is here, a report
    // of the change would have been too.
    fake->setPowered(false);
    ASSERT_TRUE(waitFor([&] { return delegate.states.back() == RadioState::poweredOff; }));
    EXPECT_EQ(lastReport(kPrinter)->rssi, -52);
}

TEST_F(QtBleCentralTest, ConnectFindsThePrinterLayout) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    EXPECT_THAT(delegate.connected, ElementsAre(kPrinter));
    EXPECT_TRUE(fake->isConnected(kPrinter));
    ASSERT_EQ(delegate.services.size(), 1u);
    EXPECT_EQ(delegate.services[0].first, QStringList({"1801", "FF00"}));
    EXPECT_EQ(delegate.services[0].second, std::nullopt);
    EXPECT_THAT(delegate.characteristics["FF00"].list, ElementsAre(kWriteCharacteristic));

    delegate.call([&] { central->discoverCharacteristics(kPrinterPeripheral, "1801"); });
    ASSERT_TRUE(waitFor([&] { return delegate.characteristics.count("1801") == 1; }));
    EXPECT_THAT(delegate.characteristics["1801"].list,
                ElementsAre(BleCharacteristic{"1801", "2A05", 0x20}));
    // BlueZ writes long values itself: the attribute's limit, not the link's, bounds a write.
    EXPECT_EQ(central->maximumWriteValueLength(kPrinterPeripheral), 512);
}

TEST_F(QtBleCentralTest, EachWriteIsAnsweredOnceInOrder) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    QByteArray payload(300, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i * 7);
    }
    const QByteArray chunks[] = {payload.mid(0, 128), payload.mid(128, 128), payload.mid(256)};
    for (const QByteArray& chunk : chunks) {
        write(chunk);
    }
    ASSERT_TRUE(waitFor([&] { return delegate.writes.size() == 3; }));
    EXPECT_THAT(delegate.writes, ElementsAre(std::nullopt, std::nullopt, std::nullopt));

    // The second of three writes fails: only it reports the failure, the third goes through.
    fake->failNext("WriteValue", "Operation failed with ATT error: 0x0e", 1);
    write("A");
    write("B");
    write("C");
    ASSERT_TRUE(waitFor([&] { return delegate.writes.size() == 6; }));
    EXPECT_EQ(delegate.writes[3], std::nullopt);
    EXPECT_TRUE(delegate.writes[4].has_value());
    EXPECT_EQ(delegate.writes[5], std::nullopt);

    std::vector<QByteArray> values;
    for (const FakeBluez::Write& written : fake->writes()) {
        EXPECT_EQ(written.type, "request");
        values.push_back(written.value);
    }
    EXPECT_THAT(values, ElementsAre(chunks[0], chunks[1], chunks[2], "A", "C"));
}

TEST_F(QtBleCentralTest, NotificationsAreSwitchedOnAndDelivered) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    delegate.call([&] { central->setNotifyValue(kPrinterPeripheral, kWriteCharacteristic, true); });
    ASSERT_TRUE(waitFor([&] { return delegate.notificationStates.size() == 1; }));
    EXPECT_EQ(delegate.notificationStates[0], std::nullopt);
    EXPECT_TRUE(fake->isNotifying(kPrinter));

    fake->notify(kPrinter, QByteArray::fromHex("1F2001"));
    ASSERT_TRUE(waitFor([&] { return delegate.values.size() == 1; }));
    EXPECT_EQ(delegate.values[0], QByteArray::fromHex("1F2001"));

    fake->failNext("StartNotify", "Operation failed");
    delegate.call([&] { central->setNotifyValue(kPrinterPeripheral, kWriteCharacteristic, true); });
    ASSERT_TRUE(waitFor([&] { return delegate.notificationStates.size() == 2; }));
    EXPECT_TRUE(delegate.notificationStates[1].has_value());
}

struct LinkEndCase {
    const char* name;
    std::function<void(QtBleCentralTest&)> end;
    bool error; // a link nobody here asked to drop ends with an error
};

void PrintTo(const LinkEndCase& c, std::ostream* out) {
    *out << c.name;
}

class LinkEndTest : public QtBleCentralTest, public testing::WithParamInterface<LinkEndCase> {};

TEST_P(LinkEndTest, DisconnectIsReportedOnce) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    write("outstanding");
    GetParam().end(*this);
    ASSERT_TRUE(waitFor([&] { return !delegate.disconnects.empty(); }));
    ASSERT_EQ(delegate.disconnects.size(), 1u);
    EXPECT_EQ(delegate.disconnects[0].first, kPrinter);
    EXPECT_EQ(delegate.disconnects[0].second.has_value(), GetParam().error);
    EXPECT_FALSE(fake->isConnected(kPrinter));
    // The write was answered one way or the other, never twice.
    EXPECT_EQ(delegate.writes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Link, LinkEndTest,
    testing::Values(
        LinkEndCase{"Cancelled",
                    [](QtBleCentralTest& t) {
                        t.delegate.call(
                            [&] { t.central->cancelPeripheralConnection(kPrinterPeripheral); });
                    },
                    false},
        LinkEndCase{"Lost", [](QtBleCentralTest& t) { t.fake->dropLink(kPrinter); }, true},
        LinkEndCase{"PoweredOff", [](QtBleCentralTest& t) { t.fake->setPowered(false); }, true}),
    [](const auto& info) { return std::string(info.param.name); });

// No scan comes first: BlueZ has no device object yet, so the central looks for the device
// before it connects.
TEST_F(QtBleCentralTest, FailedConnectIsReportedAndARetryWorks) {
    start();
    addPrinter();
    fake->failNext("Connect", "le-connection-abort-by-local");
    delegate.call([&] { central->connectPeripheral(kPrinterPeripheral); });
    ASSERT_TRUE(waitFor([&] { return !delegate.connectFailures.empty(); }));
    EXPECT_EQ(delegate.connectFailures[0].first, kPrinter);
    EXPECT_TRUE(delegate.connectFailures[0].second.has_value());
    EXPECT_THAT(delegate.connected, IsEmpty());

    delegate.call([&] { central->connectPeripheral(kPrinterPeripheral); });
    ASSERT_TRUE(waitFor([&] { return !delegate.connected.empty(); }));
    EXPECT_EQ(delegate.connectFailures.size(), 1u);
    EXPECT_TRUE(fake->isConnected(kPrinter));
}

// The abandoned attempt is already talking to BlueZ when it is cancelled.
TEST_F(QtBleCentralTest, CancelledConnectStaysSilent) {
    start();
    startConnecting();
    // Runs the posted start of the attempt: Qt has asked BlueZ to connect.
    QCoreApplication::processEvents();
    delegate.call([&] { central->cancelPeripheralConnection(kPrinterPeripheral); });

    // The late answers of the abandoned attempt reach the bus before the new attempt's.
    delegate.call([&] { central->connectPeripheral(kPrinterPeripheral); });
    ASSERT_TRUE(waitFor([&] { return !delegate.connected.empty(); }));
    EXPECT_THAT(delegate.connected, ElementsAre(kPrinter));
    EXPECT_THAT(delegate.connectFailures, IsEmpty());
    EXPECT_THAT(delegate.disconnects, IsEmpty());
}

// Connecting again to a device whose link is still closing after a cancel: the old link's end
// is reported before the new link's start.
TEST_F(QtBleCentralTest, ReconnectWhileClosingReportsTheOldEndFirst) {
    start();
    ASSERT_NO_FATAL_FAILURE(connectPrinter());
    delegate.call([&] {
        central->cancelPeripheralConnection(kPrinterPeripheral);
        central->connectPeripheral(kPrinterPeripheral);
    });
    ASSERT_TRUE(waitFor([&] { return delegate.connected.size() == 2; }));
    std::vector<std::string> linkReports;
    std::ranges::copy_if(
        delegate.sequence, std::back_inserter(linkReports),
        [](const std::string& report) { return report == "connect" || report == "disconnect"; });
    EXPECT_THAT(linkReports, ElementsAre("connect", "disconnect", "connect"));
    EXPECT_EQ(delegate.disconnects[0].second, std::nullopt);
    EXPECT_TRUE(fake->isConnected(kPrinter));
}

} // namespace
} // namespace ble_testing
