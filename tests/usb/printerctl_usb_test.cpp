// printerctl as a user runs it, on a machine whose USB bus is emulated: the listing shows the
// printer-class interface and the terminals below USB devices (not the others), each described
// by its device, and a send reaches the printer.
#include "tests/support/hex.hpp"
#include "tests/support/process.hpp"
#include "tests/usb/usb_testbed.hpp"

#include <gtest/gtest.h>

namespace {

using namespace usb_testing;
using testing_support::runProcess;

TEST(PrinterctlUsb, ListsAndSendsToEmulatedPrinters) {
    UsbTestbed bed;
    auto& printer =
        bed.addDevice({.vendorId = 0x0FE6, .productId = 0x811E, .serial = "X012345", .port = 3});
    const auto& adapter =
        bed.addDevice({.vendorId = 0x1a86,
                       .productId = 0x7523,
                       .serial = "A90C3",
                       .interfaces = {{.interfaceClass = 0xFF, .endpoints = {{0x02}, {0x82}}}},
                       .port = 4});
    const auto& modem = bed.addDevice(
        {.vendorId = 0x2345,
         .productId = 0x0001,
         .interfaces = {{.interfaceClass = 2, .endpoints = {{.address = 0x83, .attributes = 3}}},
                        {.interfaceClass = 0x0A, .endpoints = {{0x04}, {0x85}}}},
         .port = 5});
    bed.addTty(&adapter, "ttyUSB0");
    bed.addTty(&modem, "ttyACM0");
    bed.addTty(nullptr, "ttyS0");
    const std::string printerId = "bulk:19922944"; // its location: bus 1, port 3

    const auto listed = runProcess(PRINTERCTL_PATH, {"list", "usb"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, printerId +
                              "\tQW-T50 USB Printer \u00B7 \u20262345\tprinterClass\t0fe6:811e\t"
                              "X012345\n"
                              "/dev/ttyACM0\tUSB Serial (ttyACM0)\tserialCDC\t2345:0001\t\n"
                              "/dev/ttyUSB0\tUSB Serial (ttyUSB0)\tserialCDC\t1a86:7523\tA90C3\n");

    const auto sent = runProcess(PRINTERCTL_PATH, {"--usb", printerId, "name", "Front"});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    const auto expected = runProcess(PRINTERCTL_PATH, {"--dry-run", "name", "Front"}).out;
    EXPECT_EQ(printer.received(), testing_support::hex(expected.substr(0, expected.find('\n'))));
}

} // namespace
