// The Basic, Network and Wi-Fi screens' buttons: the exact bytes that reach the printer over a
// real serial line (a pseudo-terminal), the console line, and the alerts; and the refusals that
// send nothing.
#include "tests/connection/console_capture.hpp"
#include "tests/support/hex.hpp"
#include "tests/ui/serial_sheet.hpp"
#include "ui/basic_settings_model.hpp"
#include "ui/content_view_model.hpp"
#include "ui/network_settings_model.hpp"
#include "ui/wifi_settings_model.hpp"

#include "protocol/frame.hpp"
#include "protocol/parameter_commands.hpp"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace ui;
using namespace std::chrono_literals;

namespace {

class SettingsScreens : public testing_support::SerialSheet {
protected:
    // What the printer received for one press, after the I/O thread delivered it.
    protocol::Bytes received(std::size_t size) { return pty.read(size, 5s); }

    testing_support::ConsoleCapture console;
};

protocol::Bytes bytes(const char* text) {
    return testing_support::hex(text);
}

TEST_F(SettingsScreens, BasicSetSendsEverythingAsItStands) {
    BasicSettingsModel basic;
    basic.setSettings(&sheet);
    const auto defaults = bytes("1F 28 0F 0C 00 1F 73 05 00 00 00 00 01 FF 00 00 97");
    basic.set();
    EXPECT_EQ(received(defaults.size()), defaults);
    EXPECT_EQ(console.lines().back(), protocol::hexDumpLine("发送命令: ", defaults));

    basic.setLanguage(0x00); // CP437 [US, European Standard]
    EXPECT_EQ(basic.languageTitle(), "CP437 [US, European Standard]");
    basic.useFont12x24 = false;
    sheet.density = 2;
    basic.set();
    const auto sent = received(defaults.size());
    ASSERT_EQ(sent.size(), defaults.size());
    EXPECT_EQ(sent[13], 0x00);
    EXPECT_EQ(sent[15], 0x01);
    EXPECT_EQ(sent[12], 0x02);
    EXPECT_FALSE(basic.showRestartAlert());
}

TEST_F(SettingsScreens, NetworkButtons) {
    sheet.subnet = "   "; // spaces are the user's, not empty
    NetworkSettingsModel network;
    network.setSettings(&sheet);
    EXPECT_EQ(sheet.staticIP, "192.168.1.100");
    EXPECT_EQ(sheet.subnet, "   ");
    EXPECT_EQ(sheet.gateway, "192.168.1.1");
    sheet.subnet = "255.255.255.0";

    struct Press {
        void (NetworkSettingsModel::*button)();
        protocol::Bytes frame;
    };
    const Press presses[] = {
        {&NetworkSettingsModel::setEthernetDynamicIP, bytes("1F 28 0F 05 00 1F 49 00 00 56")},
        {&NetworkSettingsModel::setWiFiDynamicIP, protocol::makeIPCommand(true, true, "", "", "")},
        {&NetworkSettingsModel::setEthernetStaticIP,
         protocol::makeIPCommand(false, false, "192.168.1.100", "255.255.255.0", "192.168.1.1")},
        {&NetworkSettingsModel::setWiFiStaticIP,
         protocol::makeIPCommand(true, false, "192.168.1.101", "255.255.255.0", "192.168.1.1")},
    };
    for (const Press& press : presses) {
        network.setShowRestartAlert(false);
        (network.*press.button)();
        EXPECT_EQ(received(press.frame.size()), press.frame);
        EXPECT_EQ(console.lines().back(), protocol::hexDumpLine("发送IP设置命令: ", press.frame));
        EXPECT_TRUE(network.showRestartAlert());
    }
    EXPECT_EQ(presses[3].frame[7], 0x01); // the Wi-Fi interface

    const auto linesBefore = console.lines().size();
    network.setShowRestartAlert(false);
    network.setPrinterName();
    const auto name = protocol::makePrinterNameCommand("Thermal");
    EXPECT_EQ(received(name.size()), name);
    EXPECT_EQ(console.lines().size(), linesBefore);
    EXPECT_FALSE(network.showRestartAlert());
}

TEST_F(SettingsScreens, WiFiWithEmptyFields) {
    WiFiSettingsModel wifi;
    wifi.setSettings(&sheet);
    wifi.set();
    const auto frame = bytes("1F 28 0F 07 00 1F 77 00 01 01 00 68");
    EXPECT_EQ(received(frame.size()), frame);
    EXPECT_EQ(console.lines().back(), protocol::hexDumpLine("发送WIFI设置命令: ", frame));
    EXPECT_TRUE(wifi.showRestartAlert());
}

TEST_F(SettingsScreens, RefusalsSendNothingAndKeepTheTexts) {
    const auto linesBefore = console.lines().size();
    NetworkSettingsModel network;
    network.setSettings(&sheet);
    WiFiSettingsModel wifi;
    wifi.setSettings(&sheet);
    sheet.printerName = QString(252, QLatin1Char('n'));
    sheet.staticIP = "192.168.1.300";
    network.wifiGateway = "192.168.1";
    sheet.wifiName = QString(200, QLatin1Char('s'));
    sheet.wifiPassword = QString(49, QLatin1Char('p'));

    struct Refused {
        std::function<void()> press;
        SettingsScreenModel* screen;
        QString message;
    };
    const Refused cases[] = {
        {[&] { network.setPrinterName(); }, &network, "Printer name too long (max 251 bytes)"},
        {[&] { network.setEthernetStaticIP(); }, &network,
         "Please enter a valid IP address, subnet mask and gateway"},
        {[&] { network.setWiFiStaticIP(); }, &network,
         "Please enter a valid IP address, subnet mask and gateway"},
        {[&] { wifi.set(); }, &wifi, "WIFI name and password too long (max 248 bytes together)"},
    };
    for (const Refused& c : cases) {
        c.screen->setShowRefusal(false);
        c.press();
        EXPECT_TRUE(c.screen->showRefusal());
        EXPECT_EQ(c.screen->refusal(), c.message);
        EXPECT_FALSE(c.screen->showRestartAlert());
    }
    EXPECT_TRUE(pty.staysQuiet(100ms));
    EXPECT_EQ(console.lines().size(), linesBefore);
    EXPECT_EQ(sheet.staticIP, "192.168.1.300");
    EXPECT_EQ(sheet.printerName.size(), 252);
}

} // namespace
