// printerctl as a user runs it, on a machine whose USB bus is emulated: the listing shows the
// printer-class interface and the serial adapter, and a send reaches the printer.
#include "connection/usb/usb_printer_bulk.hpp"
#include "tests/support/process.hpp"
#include "tests/usb/usb_testbed.hpp"

#include <gtest/gtest.h>

namespace {

using namespace usb_testing;
using testing_support::runProcess;

TEST(PrinterctlUsb, ListsAndSendsToEmulatedPrinters) {
    UsbTestbed bed;
    auto& printer =
        bed.addDevice({.vendorId = 0x0FE6, .productId = 0x811E, .serial = "X012345", .ports = {3}});
    auto& adapter =
        bed.addDevice({.vendorId = 0x1a86,
                       .productId = 0x7523,
                       .serial = "A90C3",
                       .interfaces = {{.interfaceClass = 0xFF,
                                       .endpoints = {{.address = 0x02}, {.address = 0x82}}}},
                       .ports = {4}});
    bed.addFromString("P: " + adapter.devicePath() + "/" + adapter.sysName() +
                      ":1.0/ttyUSB0/tty/ttyUSB0\nN: ttyUSB0\nE: DEVNAME=/dev/ttyUSB0\n"
                      "E: SUBSYSTEM=tty\nE: MAJOR=188\nE: MINOR=0\n");
    const std::string printerId =
        "bulk:" +
        connection::printerDeviceId(connection::usbLocationId(1, {3}), 0, 0).toStdString();

    const auto listed = runProcess(PRINTERCTL_PATH, {"list", "usb"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, printerId +
                              "\tQW-T50 USB Printer \u00B7 \u20262345\tprinterClass\t0fe6:811e\t"
                              "X012345\n"
                              "/dev/ttyUSB0\tUSB Serial (ttyUSB0)\tserialCDC\t1a86:7523\tA90C3\n");

    const auto sent = runProcess(PRINTERCTL_PATH, {"--usb", printerId, "name", "Front"});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    const auto expected = runProcess(PRINTERCTL_PATH, {"--dry-run", "name", "Front"}).out;
    ASSERT_TRUE(printer.waitForReceived(12));
    std::string received;
    for (std::uint8_t byte : printer.received()) {
        char hex[4];
        std::snprintf(hex, sizeof hex, received.empty() ? "%02X" : " %02X", byte);
        received += hex;
    }
    EXPECT_EQ(received + "\n", expected);
}

} // namespace
