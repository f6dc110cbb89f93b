// The printer-class bulk writer against printers emulated on a umockdev bus: libusb's own code
// runs, only the kernel's usbdevfs side and the printer behind it are ours.
#include "connection/usb/device_access.hpp"
#include "connection/usb/usb_printer_bulk.hpp"
#include "tests/support/process.hpp"
#include "tests/usb/usb_testbed.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages for QString comparisons.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace connection;
using namespace usb_testing;
using namespace std::chrono_literals;
using USBPrinterBulk::listPrinterClassDevices;
using USBPrinterBulk::sendData;

const InterfaceLayout kVendorInterface{.interfaceClass = 0xFF, .endpoints = {{.address = 0x03}}};

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return bytes;
}

// The location packs the bus and up to six ports of at most 15; the device id is it in decimal,
// else vendor and product, and a listed id gives the location back.
TEST(UsbLocationId, PacksBusAndPortsIntoTheDeviceId) {
    struct Case {
        std::uint8_t bus;
        std::vector<std::uint8_t> ports;
        std::optional<std::uint32_t> location;
        QString deviceId;
    };
    const Case cases[] = {
        {255, {15, 1, 2, 3, 4, 5}, 0xFFF12345, "4293993285"},
        {1, {}, std::nullopt, "1234:00ab"},
        {1, {1, 2, 3, 4, 5, 6, 7}, std::nullopt, "1234:00ab"},
        {1, {1, 16}, std::nullopt, "1234:00ab"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(usbLocationId(c.bus, c.ports), c.location) << c.deviceId.toStdString();
        EXPECT_EQ(printerDeviceId(c.location, 0x1234, 0x00AB), c.deviceId);
        EXPECT_EQ(locationOfDeviceId(c.deviceId), c.location) << c.deviceId.toStdString();
    }
}

// One bus for both: what is listed, and which printer a send picks. The names: a recognised
// model by its own name, else the product string when it has a letter or digit, else vendor
// and product; a serial of four or more characters adds its last four.
TEST(UsbPrinters, ListedAndPicked) {
    UsbTestbed bed;
    const std::vector<EmulatedDevice*> printers{
        &bed.addDevice({0x0FE6, 0x811E, "Receipt", "SN-A-0001"}),
        // The printer interface second.
        &bed.addDevice({0x3333, 2, "Kitchen 80", "XYZ", {kVendorInterface, {}}, 1, 3}),
        &bed.addDevice({0x1234, 0x00AB, "- -", "", {{}}, 2, 1}),
        // Strings sysfs lacks are asked of the device itself.
        &bed.addDevice({0x4444, 5, "7", "0099", {{}}, 2, 2, "", false}),
        // Two identical printers without serial numbers.
        &bed.addDevice({.vendorId = 0x5555, .productId = 6, .port = 5}),
        &bed.addDevice({.vendorId = 0x5555, .productId = 6, .port = 6}),
    };
    bed.addDevice({0x2222, 1, "Keyboard", "SN-K-0001", {kVendorInterface}, 1, 2});

    auto listed = listPrinterClassDevices();
    std::ranges::sort(listed, {}, &USBPrinterBulkDevice::deviceId);
    const std::vector<USBPrinterBulkDevice> expected{
        {"17825792", "QW-T50 USB Printer \u00B7 \u20260001", 0x0FE6, 0x811E, "SN-A-0001"},
        {"19922944", "USB Printer (Kitchen 80)", 0x3333, 2, "XYZ"},
        {"22020096", "USB Printer (5555:0006)", 0x5555, 6, ""},
        {"23068672", "USB Printer (5555:0006)", 0x5555, 6, ""},
        {"34603008", "USB Printer (1234:00AB)", 0x1234, 0x00AB, ""},
        {"35651584", "USB Printer (7) \u00B7 \u20260099", 0x4444, 5, "0099"},
    };
    EXPECT_EQ(listed, expected);

    const auto at = [](std::uint8_t port) { return usbLocationId(1, {port}); };
    const std::pair<PrinterMatch, int> cases[] = {
        // The match, and the index of the printer that gets the bytes (-1: none).
        {{"SN-A-0001", 0x0FE6}, 0},            // equal serial
        {{"09"}, 3},                           // the device's serial contains it
        {{std::nullopt, 0, 2}, 1},             // product alone
        {{"", 0x1234, 0x00AB}, 2},             // an empty serial asks for none
        {{"SN", 0x1234, 0x00AB}, -1},          // a device without a serial never matches one
        {{"SN-A", 0x3333}, -1},                // serial of another vendor's printer
        {{"SN-K"}, -1},                        // not a printer
        {{std::nullopt, 0x5555, 6, at(5)}, 4}, // each twin by the place it was listed at
        {{std::nullopt, 0x5555, 6, at(6)}, 5},
        {{std::nullopt, 0x5555, 6, at(7)}, -1}, // gone from there: no twin stands in for it
        {{"SN-A-0001", 0x0FE6, 0, at(7)}, 0},   // replugged elsewhere: found by its serial
    };
    std::vector<std::size_t> seen(printers.size());
    for (const auto& [match, expected] : cases) {
        const auto label = &match - &cases[0].first;
        EXPECT_EQ(sendData(pattern(10), match).error,
                  expected < 0 ? std::optional<QString>("USB printer not found (unplugged?)")
                               : std::nullopt)
            << "case " << label;
        for (std::size_t i = 0; i < printers.size(); ++i) {
            const std::size_t now = printers[i]->received().size();
            EXPECT_EQ(now - std::exchange(seen[i], now), static_cast<int>(i) == expected ? 10u : 0u)
                << "case " << label << ", printer " << i;
        }
    }
    EXPECT_EQ(sendData({}, {}).error, "Empty data");
}

// How a write ends, by what the printer does: what reached it is counted, and the interface is
// left as it was found (a detached kernel driver gets it back).
TEST(SendData, EndsAsThePrinterLetsIt) {
    const QString failed = "USB write failed (0x%1)";
    const QString stuck =
        failed.arg("fffffff9") + ": the printer took no data for 300 ms (%1 of 2000 bytes)";
    const QString busy = "USB interface busy (0x%1). Close other print apps and retry.\n";
    const QString heldByProgram = busy.arg("fffffffa") + access::usbHeldByProgramAdvice();
    const QString noEndpoint = "No USB bulk OUT endpoint";
    std::stop_source stopped;
    stopped.request_stop();
    struct Case {
        const char* name;
        DeviceLayout layout;
        std::optional<QString> error;
        std::size_t sent;
        std::vector<std::size_t> urbs = {}; // sizes of the URBs, when they are certain
        BulkLimits limits = {};
    };
    const Case cases[] = {
        {"delivered in chunks of 512", {}, {}, 2000, {512, 512, 512, 464}},
        {"short transfers",
         {.acceptAtMost = 300},
         {},
         2000,
         {512, 212, 512, 212, 512, 212, 464, 164}},
        {"usblp", {.kernelDriver = "usblp"}, {}, 2000},
        {"stall", {.stallAtUrb = 2}, failed.arg("fffffff7"), 512, {512, 512}},
        {"usblp, stall", {.kernelDriver = "usblp", .stallAtUrb = 1}, failed.arg("fffffff7"), 0},
        {"unplugged", {.unplugAtUrb = 2}, failed.arg("fffffffc"), 512},
        {"takes nothing", {.acceptAtMost = 0}, failed.arg("ffffffff"), 0, {512}},
        // A stuck printer fails the write once nothing moved for the no-progress limit.
        {"stuck at once", {.hangAtUrb = 1}, stuck.arg(0), 0, {}, {300ms}},
        {"stuck later", {.hangAtUrb = 3}, stuck.arg(1024), 1024, {}, {300ms}},
        // A manager going away stops the wait at once, whatever the limit.
        {"stopped", {.hangAtUrb = 1}, failed.arg("fffffff9"), 0, {}, {1h, stopped.get_token()}},
        {"bulk IN only", {.interfaces = {{.endpoints = {{0x81}}}}}, noEndpoint, 0},
        {"interrupt OUT", {.interfaces = {{.endpoints = {{0x02, 3}, {0x81}}}}}, noEndpoint, 0},
        {"held by another program", {.heldByOtherProgram = true}, heldByProgram, 0},
        {"taken once usblp let go",
         {.kernelDriver = "usblp", .heldByOtherProgram = true},
         heldByProgram,
         0},
        // The driver is named as sysfs links it.
        {"driver stays",
         {.kernelDriver = "lp-test", .refuseDetach = true},
         busy.arg("ffffff9d") + access::usbHeldByDriverAdvice("lp-test"),
         0},
    };
    const Bytes bytes = pattern(2000);
    for (const Case& c : cases) {
        UsbTestbed bed;
        const auto& printer = bed.addDevice(c.layout);
        const SendResult result = sendData(bytes, {}, c.limits);
        EXPECT_EQ(result.error, c.error) << c.name;
        EXPECT_EQ(result.bytesSent, c.sent) << c.name;
        EXPECT_EQ(printer.received(), Bytes(bytes.begin(), bytes.begin() + c.sent)) << c.name;
        if (!c.urbs.empty()) {
            EXPECT_EQ(printer.urbSizes(), c.urbs) << c.name;
        }
        EXPECT_EQ(printer.driver(0), c.layout.heldByOtherProgram ? "usbfs" : c.layout.kernelDriver)
            << c.name;
    }
}

// The device node is the kernel's to guard: a user without access gets libusb's ACCESS status
// and the remedy for it.
TEST(SendData, OpenRefusedForAnotherUser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the send as an unprivileged user";
    }
    UsbTestbed bed;
    const auto& printer = bed.addDevice({});
    const std::string root = bed.rootDirectory();
    // Open to all, as /sys and /run are; the other user's udev monitor makes its socket here.
    ASSERT_EQ(chmod(root.c_str(), 0777), 0);
    ASSERT_EQ(chmod((root + printer.node()).c_str(), 0600), 0);
    // umockdev's preload talks to our handler through this socket whatever the node allows.
    ASSERT_EQ(chmod((root + "/ioctl" + printer.node()).c_str(), 0777), 0);

    testing_support::ChildProcess probe(
        "/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", USB_SEND_PROBE});
    ASSERT_EQ(probe.waitForExit(), 1) << probe.errorOutput();
    const QString output = QString::fromStdString(probe.output());
    EXPECT_EQ(output.section('\n', 0, 0), "USB plugin open failed (0xfffffffd)");
    EXPECT_TRUE(output.section('\n', 1).contains(QString::fromStdString(printer.node())))
        << output.toStdString();
    EXPECT_TRUE(printer.urbSizes().empty());
}

} // namespace
