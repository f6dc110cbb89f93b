// The USB serial listing over an emulated sysfs: tty devices below a USB device are offered,
// named after their node and described by that device; other terminals are not.
#include "connection/usb/serial_ports.hpp"
#include "usb_testbed.hpp"

#include <gtest/gtest.h>

using namespace connection;
using namespace usb_testing;

namespace {

// A tty node below `parent` (a sysfs path), or a platform one when `parent` is empty.
std::string ttyRecord(const std::string& parent, const std::string& name, int minor) {
    const std::string path =
        parent.empty() ? "/devices/platform/serial8250/tty/" + name : parent + "/tty/" + name;
    return "P: " + path + "\nN: " + name + "\nE: DEVNAME=/dev/" + name +
           "\nE: SUBSYSTEM=tty\nE: MAJOR=188\nE: MINOR=" + std::to_string(minor) + "\n";
}

TEST(UsbSerialListing, OffersTerminalsOfUsbDevicesOnly) {
    UsbTestbed bed;
    DeviceLayout adapter;
    adapter.vendorId = 0x1a86;
    adapter.productId = 0x7523;
    adapter.serial = "A90C3";
    adapter.interfaces = {{0xFF, 0, 0, {{0x02}, {0x82}}}};
    const EmulatedDevice& usbAdapter = bed.addDevice(adapter);
    DeviceLayout modem;
    modem.vendorId = 0x0FE6;
    modem.productId = 0x811E;
    modem.ports = {2};
    modem.interfaces = {{0x02, 2, 1, {{0x83, 0x03, 16}}}, {0x0A, 0, 0, {{0x04}, {0x85}}}};
    const EmulatedDevice& cdcModem = bed.addDevice(modem);

    bed.addFromString(ttyRecord(
        usbAdapter.devicePath() + "/" + usbAdapter.sysName() + ":1.0/ttyUSB0", "ttyUSB0", 0));
    bed.addFromString(
        ttyRecord(cdcModem.devicePath() + "/" + cdcModem.sysName() + ":1.0", "ttyACM0", 1));
    bed.addFromString(ttyRecord("", "ttyS0", 64));

    const SerialListing listing = listSerialPorts();
    ASSERT_EQ(listing.ports.size(), 2u);
    EXPECT_TRUE(listing.unavailable.empty());
    std::map<QString, USBSerialPort> byId;
    for (const auto& port : listing.ports) {
        byId[port.id] = port;
    }
    EXPECT_EQ(byId["/dev/ttyUSB0"],
              (USBSerialPort{"/dev/ttyUSB0", "USB Serial (ttyUSB0)", USBSerialPort::Kind::serialCDC,
                             0x1a86, 0x7523, "A90C3"}));
    EXPECT_EQ(byId["/dev/ttyACM0"],
              (USBSerialPort{"/dev/ttyACM0", "USB Serial (ttyACM0)", USBSerialPort::Kind::serialCDC,
                             0x0FE6, 0x811E, ""}));
}

} // namespace
