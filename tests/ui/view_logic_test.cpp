// The main window's and the settings sheet's rules, without a window: the real managers, a
// real TCP peer (printer-sim) and a real pseudo-terminal; only the Bluetooth radio is scripted.
#include "tests/connection/fake_ble_central.hpp"
#include "tests/sim/sim_process.hpp"
#include "tests/support/pty.hpp"
#include "tests/support/wait_limit.hpp"
#include "ui/content_view_model.hpp"
#include "ui/printer_settings_model.hpp"
#include "ui/window_options.hpp"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace ui;
using namespace std::chrono_literals;
using connection::RadioState;
using connection::USBSerialPort;

namespace {

// The radio of the newest view.
testing_support::FakeBleCentral* radio = nullptr;

class ViewLogic : public ::testing::Test {
protected:
    void SetUp() override { start(RadioState::poweredOn); }

    // A view whose radio reports `state` first.
    void start(RadioState state) {
        ContentViewModel::setCentralFactory([state] {
            auto central = std::make_unique<testing_support::FakeBleCentral>(state);
            radio = central.get();
            return central;
        });
        radio = nullptr; // made when Bluetooth is first chosen
        view = std::make_unique<ContentViewModel>();
    }

    // The first choice of Bluetooth makes the radio, whose first report starts the scan (posted).
    void chooseBluetooth() {
        view->selectConnectionType(QStringLiteral("bluetooth"));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    void connectPty(const testing_support::Pty& pty) {
        QSignalSpy connected(&view->usbSerialManager(),
                             &connection::USBSerialManager::connectFinished);
        view->usbSerialManager().connectSerialPath(QString::fromStdString(pty.slavePath()));
        ASSERT_TRUE(connected.wait(testing_support::kWaitMs));
    }

    std::unique_ptr<ContentViewModel> view;
};

TEST_F(ViewLogic, StartsOnUsbAndSwitchingDisconnectsThePreviousTransport) {
    EXPECT_EQ(view->connectionTypeText(), "usb");
    view->appear();
    EXPECT_TRUE(view->appearReady());

    sim_testing::SimProcess sim({"--listen", "127.0.0.1:0"});
    view->selectConnectionType(QStringLiteral("network"));
    view->setIpAddress(QStringLiteral("127.0.0.1"));
    view->setPort(QString::number(sim.firstPort()));
    view->toggleNetworkConnection();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return view->isCurrentConnected(); }, testing_support::kWaitMs));

    // Choosing Network again resets the fields and keeps the link.
    view->selectConnectionType(QStringLiteral("network"));
    EXPECT_EQ(view->ipAddress(), "192.168.1.87");
    EXPECT_EQ(view->port(), "9100");
    EXPECT_TRUE(view->networkManager().isConnected());

    EXPECT_EQ(radio, nullptr) << "the radio was asked before Bluetooth was chosen";
    chooseBluetooth();
    EXPECT_FALSE(view->networkManager().isConnected());
    EXPECT_FALSE(view->isCurrentConnected());
    ASSERT_NE(radio, nullptr);
    EXPECT_EQ(radio->calls.back(), "scan");
}

// A machine without a working radio says so when Bluetooth is chosen, once, not at start-up.
TEST_F(ViewLogic, TheBluetoothAlertWaitsUntilBluetoothIsChosen) {
    start(RadioState::unsupported);
    auto* alerts = view->alerts();
    EXPECT_FALSE(alerts->showing());
    for (int choice = 0; choice < 2; ++choice) { // chosen again, the same words
        chooseBluetooth();
        ASSERT_TRUE(alerts->showing());
        EXPECT_EQ(alerts->title(), "Bluetooth");
        EXPECT_EQ(alerts->message(), "This device does not support Bluetooth");
        alerts->dismiss();
        EXPECT_FALSE(alerts->showing());
        EXPECT_FALSE(view->bluetoothManager().showAlert());
        view->selectConnectionType(QStringLiteral("usb"));
    }
    // Once the radio is on, a scan instead.
    radio->setState(RadioState::poweredOn);
    radio->delegate()->centralDidUpdateState(RadioState::poweredOn);
    radio->calls.clear();
    view->selectConnectionType(QStringLiteral("bluetooth"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(alerts->showing());
    EXPECT_EQ(radio->calls.back(), "scan");
}

TEST_F(ViewLogic, BluetoothStatusNameAndRows) {
    chooseBluetooth();
    EXPECT_EQ(view->statusText(), "Scanning for printers…");
    auto* delegate = radio->delegate();
    const QByteArray printerData("\x4B\x43\x01", 3);
    delegate->didDiscover({{"AA:BB:CC:DD:EE:01", "P1"}, printerData, -63});
    delegate->didDiscover({{"E621E1F8-C36C-495A-93FC-0123456789AB", ""}, printerData, -70});
    QCoreApplication::processEvents();
    EXPECT_EQ(view->statusText(), "2 device(s) found — tap to connect");
    auto* rows = view->bluetoothDevices();
    const auto cell = [rows](int row, const char* role) {
        return rows->data(rows->index(row), rows->roleNames().key(role));
    };
    ASSERT_EQ(rows->rowCount(), 2);
    EXPECT_EQ(cell(0, "identifierLine").toString(), "AA:BB:CC:DD:EE:01");
    EXPECT_EQ(cell(0, "rssi").toInt(), -63);
    EXPECT_EQ(cell(1, "name").toString(), "Unknown Device");
    EXPECT_EQ(cell(1, "identifierLine").toString(), "01:23:45:67:89:AB");
    EXPECT_EQ(view->connectedName(), "Bluetooth Printer");
    // A new signal strength changes its row, not the list (and nothing else of the view).
    QSignalSpy rowsChanged(rows, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(rows, &QAbstractItemModel::modelReset);
    QSignalSpy status(view.get(), &ContentViewModel::statusTextChanged);
    delegate->didDiscover({{"AA:BB:CC:DD:EE:01", "P1"}, printerData, -58});
    ASSERT_EQ(rowsChanged.size(), 1);
    EXPECT_EQ(rowsChanged[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(cell(0, "rssi").toInt(), -58);
    EXPECT_TRUE(reset.isEmpty());
    EXPECT_TRUE(status.isEmpty());

    view->connectBluetoothDevice("AA:BB:CC:DD:EE:01");
    QCoreApplication::processEvents();
    delegate->didConnect({"AA:BB:CC:DD:EE:01", "P1"});
    EXPECT_EQ(view->statusText(), "Connected · P1");
    EXPECT_EQ(view->connectedName(), "P1");
    EXPECT_EQ(view->connectionKind(), "Bluetooth LE");
    EXPECT_TRUE(view->isCurrentConnected());
}

TEST_F(ViewLogic, UsbPortNamesAndTheConnectButton) {
    const std::vector<USBSerialPort> ports = {{"usb://Maker/Model?serial=1", "QW-T50 USB Printer",
                                               USBSerialPort::Kind::printerClass, 0, 0, "1"}};
    const std::pair<QString, QString> names[] = {
        {"/dev/cu.usbserial-1410", "usbserial-1410"},
        {"/dev/ttyUSB0", "ttyUSB0"},
        {"usb://Maker/Model?serial=1", "QW-T50 USB Printer"},
        {"usb://Maker/Gone?serial=2", "USB Printer"},
        {"bulk:17825792", "bulk:17825792"},
        {"", ""},
    };
    for (const auto& [id, shown] : names) {
        EXPECT_EQ(ContentViewModel::usbPortDisplayName(id, ports), shown) << id.toStdString();
    }
    EXPECT_EQ(view->statusText(), "Not Connected");
    EXPECT_EQ(view->connectedName(), "USB Printer");
    EXPECT_FALSE(view->usbConnectEnabled()); // nothing selected
    view->selectUsbPort("/dev/ttyUSB0");
    EXPECT_TRUE(view->usbConnectEnabled());
    EXPECT_EQ(view->connectionKind(), "ttyUSB0");
}

// (Over TCP the window tests press Communication Test against printer-sim.)
TEST_F(ViewLogic, CommunicationTestSendsTwelveFiftyFourOverUsb) {
    testing_support::Pty pty;
    connectPty(pty);
    view->sendTestData();
    EXPECT_EQ(pty.read(2, testing_support::kWaitLimit), (protocol::Bytes{0x12, 0x54}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->usbSerialManager().showAlert(); },
                                testing_support::kWaitMs));
    EXPECT_EQ(view->usbSerialManager().alertMessage(), "USB test data sent.");
}

// A USB printer that takes no data holds only the USB I/O thread: switching to Network returns
// at once, and the window's end (quitting) does not wait for the printer (it would hang here).
TEST_F(ViewLogic, AStuckUsbPrinterNeverHoldsTheWindow) {
    view->appear();           // on USB
    testing_support::Pty pty; // never read
    connectPty(pty);
    bool reported = false;
    view->usbSerialManager().sendData(protocol::Bytes(256 * 1024, 0x41),
                                      [&](const connection::DeliveryReport&) { reported = true; });
    view->selectConnectionType(QStringLiteral("network"));
    EXPECT_EQ(view->connectionTypeText(), "network");
    EXPECT_FALSE(view->usbSerialManager().isConnected());
    QCoreApplication::processEvents();
    EXPECT_FALSE(reported) << "the write still waits for the printer, on its own thread";
    view.reset();
}

TEST_F(ViewLogic, SettingsSheetOpensWhereAskedWithFreshValues) {
    view->openSettings(QStringLiteral("network"));
    EXPECT_EQ(view->settingsSectionText(), "network");
    view->openSettings(QStringLiteral("nowhere"));
    EXPECT_EQ(view->settingsSectionText(), "network");
    view->closeSettings();
    EXPECT_EQ(view->settingsSectionText(), "");

    const std::pair<QString, QString> titles[] = {
        {"hub", "Parameter Settings"}, {"basic", "Basic Settings"}, {"network", "Network Settings"},
        {"wifi", "WIFI Settings"},     {"mqtt", "MQTT Settings"},
    };
    for (const auto& [section, title] : titles) {
        PrinterSettingsModel sheet;
        sheet.setInitialSection(section);
        EXPECT_EQ(sheet.currentSection(), section);
        EXPECT_EQ(sheet.navigationTitle(), title);
    }
    PrinterSettingsModel first;
    first.setInitialSection("hub");
    first.enter("wifi");
    EXPECT_EQ(first.navigationTitle(), "WIFI Settings");
    first.printerName = "Edited";
    PrinterSettingsModel second;
    EXPECT_EQ(second.printerName, "Thermal");
    EXPECT_EQ(second.mqttPort(), "1883");
    const QVariantList rows = PrinterSettingsModel::hubRows();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[1].toMap().value("subtitle").toString(),
              QStringLiteral("Printer name, Ethernet & Wi\u2011Fi IP"));
}

// printer-config's command line: --connect takes the one target syntax; Qt's options pass.
TEST(WindowOptions, ConnectTakesOneTargetAndLeavesQtItsOptions) {
    struct Case {
        std::vector<const char*> arguments;
        const char* target; // kind:address:port as parsed, or "" for none
        const char* error;  // part of the refusal, or "" for none
    };
    const Case cases[] = {
        {{}, "", ""},
        {{"--connect", "tcp:127.0.0.1"}, "tcp:127.0.0.1:9100", ""},
        {{"--connect=tcp:10.0.0.5:9200", "-platform", "offscreen"}, "tcp:10.0.0.5:9200", ""},
        {{"-platform", "offscreen", "--connect", "serial:/dev/pts/3"}, "serial:/dev/pts/3:", ""},
        {{"--connect", "ble:aa:bb:cc:dd:ee:01", "-session", "x"}, "ble:aa:bb:cc:dd:ee:01:", ""},
        {{"--connect", "usb:bulk:17891328"}, "usb:bulk:17891328:", ""},
        {{"--connect"}, "", "--connect needs a printer"},
        {{"--connect", "tcp:300.1.1.1"}, "", "'tcp:300.1.1.1'"},
        {{"--connect", "lpt:1"}, "", "'lpt:1' is not a printer"},
        {{"--connect", "tcp:127.0.0.1", "--connect", "tcp:127.0.0.2"}, "", "one printer"},
        {{"--conect", "tcp:127.0.0.1"}, "", "unknown option '--conect'"},
        {{"tcp:127.0.0.1"}, "", "unexpected argument 'tcp:127.0.0.1'"},
    };
    static constexpr const char* kinds[] = {"tcp", "serial", "usb", "ble"};
    for (const auto& c : cases) {
        std::vector<const char*> argv{"printer-config"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const auto options = parseWindowOptions(static_cast<int>(argv.size()), argv.data());
        QString target;
        if (options.target) {
            target = QStringLiteral("%1:%2:%3")
                         .arg(QLatin1String(kinds[static_cast<int>(options.target->kind)]),
                              options.target->address, options.target->port);
        }
        const std::string line = c.arguments.empty() ? "(none)" : c.arguments[0];
        EXPECT_EQ(target.toStdString(), c.target) << line;
        EXPECT_EQ(options.error.isEmpty(), *c.error == '\0') << line;
        EXPECT_TRUE(options.error.contains(QString::fromUtf8(c.error)))
            << options.error.toStdString();
        EXPECT_FALSE(options.help);
    }
    const char* help[] = {"printer-config", "-h"};
    EXPECT_TRUE(parseWindowOptions(2, help).help);
    EXPECT_TRUE(windowUsageText().contains("--connect TARGET"));
}

// A window started with a target is on its transport with the fields filled, and connected.
TEST_F(ViewLogic, StartupTargetChoosesItsTransportFillsTheFieldsAndConnects) {
    const auto startWith = [this](const std::string& text) {
        ContentViewModel::setStartupTarget(
            std::get<connection::Target>(connection::parseTarget(text)));
        start(RadioState::poweredOn);
        ContentViewModel::setStartupTarget(std::nullopt);
        view->appear();
    };
    sim_testing::SimProcess sim({"--listen", "127.0.0.1:0"});
    startWith("tcp:127.0.0.1:" + std::to_string(sim.firstPort()));
    EXPECT_EQ(view->connectionTypeText(), "network");
    EXPECT_EQ(view->ipAddress(), "127.0.0.1");
    EXPECT_EQ(view->port(), QString::number(sim.firstPort()));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return view->isCurrentConnected(); }, testing_support::kWaitMs));

    testing_support::Pty pty;
    startWith("serial:" + pty.slavePath());
    EXPECT_EQ(view->connectionTypeText(), "usb");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return view->isCurrentConnected(); }, testing_support::kWaitMs));
    EXPECT_FALSE(view->networkManager().isConnected());

    // A USB port that is not listed: the window says so once the listing is in.
    startWith("usb:/dev/no-such-port");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return view->alerts()->showing(); }, testing_support::kWaitMs));
    EXPECT_EQ(view->alerts()->title(), "USB");
    EXPECT_TRUE(view->alerts()->message().contains("/dev/no-such-port"));
    EXPECT_FALSE(view->isCurrentConnected());

    // A Bluetooth printer is connected when the scan sees it, not another one.
    startWith("ble:aa:bb:cc:dd:ee:02");
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_NE(radio, nullptr);
    EXPECT_EQ(view->connectionTypeText(), "bluetooth");
    const QByteArray printerData("\x4B\x43\x01", 3);
    const auto called = [](const std::string& call) {
        return std::ranges::find(radio->calls, call) != radio->calls.end();
    };
    radio->delegate()->didDiscover({{"AA:BB:CC:DD:EE:01", "P1"}, printerData, -60});
    radio->delegate()->didDiscover({{"AA:BB:CC:DD:EE:02", "P2"}, printerData, -60});
    EXPECT_TRUE(QTest::qWaitFor([&] { return called("connect AA:BB:CC:DD:EE:02"); },
                                testing_support::kWaitMs));
    EXPECT_FALSE(called("connect AA:BB:CC:DD:EE:01"));
}

} // namespace
