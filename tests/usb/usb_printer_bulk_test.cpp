// The printer-class bulk writer against printers emulated on a umockdev bus: libusb's own code
// runs, only the kernel's usbdevfs side and the printer behind it are ours.
#include "connection/usb/cups_printers.hpp"
#include "connection/usb/device_access.hpp"
#include "connection/usb/usb_printer_bulk.hpp"
#include "tests/support/process.hpp"
#include "tests/usb/usb_testbed.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <libusb.h>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages for QString comparisons.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using connection::PrinterMatch;
using connection::USBPrinterBulkDevice;
using connection::USBPrinterBulk::listPrinterClassDevices;
using usb_testing::Bytes;
using namespace std::chrono_literals;

// The bulk writer's text for a send, nothing when it was delivered.
std::optional<QString> send(const Bytes& bytes, const PrinterMatch& match = {},
                            std::chrono::milliseconds noProgress = 15s) {
    return connection::USBPrinterBulk::sendData(bytes, match, {noProgress, {}}).error;
}
using usb_testing::InterfaceLayout;
using usb_testing::UsbTestbed;

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return bytes;
}

std::vector<std::size_t> sizes(const std::vector<Bytes>& urbs) {
    std::vector<std::size_t> out;
    for (const Bytes& urb : urbs) {
        out.push_back(urb.size());
    }
    return out;
}

QString statusText(int libusbStatus) {
    return QString::asprintf("%08x", static_cast<std::uint32_t>(libusbStatus));
}

QString writeFailed(int libusbStatus) {
    return QStringLiteral("USB write failed (0x%1)").arg(statusText(libusbStatus));
}

QString busy(int libusbStatus) {
    return QStringLiteral("USB interface busy (0x%1). Close other print apps and retry.")
        .arg(statusText(libusbStatus));
}

std::ptrdiff_t indexOf(const std::vector<std::string>& requests, const std::string& request,
                       std::size_t from = 0) {
    const auto it =
        std::find(requests.begin() + static_cast<std::ptrdiff_t>(from), requests.end(), request);
    return it == requests.end() ? -1 : it - requests.begin();
}

InterfaceLayout vendorInterface() {
    return InterfaceLayout{.interfaceClass = 0xFF, .endpoints = {{.address = 0x03}}};
}

// ---------------------------------------------------------------------------------------------
// Names and ids

TEST(PrinterDisplayName, FollowsTheNamingRules) {
    struct Case {
        std::uint16_t vendor, product;
        QString productName, serial, expected;
    };
    const Case cases[] = {
        {0x0FE6, 0x811E, "Anything", "AB12345",
         QStringLiteral("QW-T50 USB Printer \u00B7 \u20262345")},
        {0x0FE6, 0x811E, "", "AB", "QW-T50 USB Printer"},
        {0x1234, 0x00AB, "", "", "USB Printer (1234:00AB)"},
        {0x0a5f, 0x00d3, "- -", "", "USB Printer (0A5F:00D3)"},
        {0x1234, 0x5678, "Kitchen 80", "WXYZ",
         QStringLiteral("USB Printer (Kitchen 80) \u00B7 \u2026WXYZ")},
        {0x1234, 0x5678, "7", "XYZ", "USB Printer (7)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(connection::printerDisplayName(c.vendor, c.product, c.productName, c.serial),
                  c.expected)
            << c.productName.toStdString() << " / " << c.serial.toStdString();
    }
}

TEST(UsbLocationId, PacksBusAndPortsOrRefuses) {
    struct Case {
        std::uint8_t bus;
        std::vector<std::uint8_t> ports;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {1, {2}, 0x01200000},
        {3, {1, 4}, 0x03140000},
        {255, {15, 1, 2, 3, 4, 5}, 0xFFF12345},
        {1, {}, std::nullopt},
        {1, {1, 2, 3, 4, 5, 6, 7}, std::nullopt},
        {1, {1, 16}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(connection::usbLocationId(c.bus, c.ports), c.expected) << int(c.bus);
    }
}

TEST(PrinterDeviceId, IsTheLocationInDecimalElseVendorAndProduct) {
    EXPECT_EQ(connection::printerDeviceId(0x01200000, 0x1234, 0x00AB), "18874368");
    EXPECT_EQ(connection::printerDeviceId(std::nullopt, 0x1234, 0x00AB), "1234:00ab");
}

// ---------------------------------------------------------------------------------------------
// Listing

TEST(ListPrinterClassDevices, ListsEachPrinterInterfaceWithItsName) {
    UsbTestbed bed;
    bed.addDevice({.vendorId = 0x0FE6,
                   .productId = 0x811E,
                   .product = "Receipt",
                   .serial = "X012345",
                   .ports = {1}});
    bed.addDevice({.vendorId = 0x2222,
                   .productId = 0x0001,
                   .product = "Keyboard",
                   .serial = "K1234",
                   .interfaces = {vendorInterface()},
                   .ports = {2}});
    bed.addDevice({.vendorId = 0x3333,
                   .productId = 0x0002,
                   .product = "Kitchen 80",
                   .serial = "ZZ",
                   .interfaces = {vendorInterface(), usb_testing::printerInterface()},
                   .ports = {3, 4}});
    bed.addDevice({.vendorId = 0x1234, .productId = 0x00AB, .bus = 2, .ports = {1}});
    // Strings sysfs lacks are asked of the device itself.
    bed.addDevice({.vendorId = 0x4444,
                   .productId = 0x0005,
                   .product = "Bar 58",
                   .serial = "SER-0099",
                   .bus = 2,
                   .ports = {2},
                   .stringsInSysfs = false});

    auto listed = listPrinterClassDevices();
    std::sort(listed.begin(), listed.end(),
              [](const auto& a, const auto& b) { return a.deviceId() < b.deviceId(); });
    const std::vector<USBPrinterBulkDevice> expected{
        {QString::number(0x01100000), QStringLiteral("QW-T50 USB Printer \u00B7 \u20262345"),
         0x0FE6, 0x811E, "X012345"},
        {QString::number(0x01340000), "USB Printer (Kitchen 80)", 0x3333, 0x0002, "ZZ"},
        {QString::number(0x02100000), "USB Printer (1234:00AB)", 0x1234, 0x00AB, ""},
        {QString::number(0x02200000), QStringLiteral("USB Printer (Bar 58) \u00B7 \u20260099"),
         0x4444, 0x0005, "SER-0099"},
    };
    EXPECT_EQ(listed, expected);
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(SendData, WritesInChunksOf512AndReleasesTheInterface) {
    UsbTestbed bed;
    auto& printer = bed.addDevice({.serial = "S1"});
    const Bytes bytes = pattern(1025);

    EXPECT_EQ(send(bytes), std::nullopt);

    EXPECT_EQ(sizes(printer.bulkOutUrbs()), (std::vector<std::size_t>{512, 512, 1}));
    EXPECT_EQ(printer.received(), bytes);
    const auto requests = printer.requests();
    const auto claimed = indexOf(requests, "CLAIMINTERFACE 0");
    ASSERT_GE(claimed, 0);
    EXPECT_GT(indexOf(requests, "RELEASEINTERFACE 0", static_cast<std::size_t>(claimed)), claimed);
    EXPECT_EQ(printer.driver(0), "");
}

TEST(SendData, AShortTransferContinuesWithTheRestOfItsChunk) {
    UsbTestbed bed;
    auto& printer = bed.addDevice({});
    printer.acceptAtMost(300);
    const Bytes bytes = pattern(1025);

    EXPECT_EQ(send(bytes), std::nullopt);

    EXPECT_EQ(sizes(printer.bulkOutUrbs()), (std::vector<std::size_t>{512, 212, 512, 212, 1}));
    EXPECT_EQ(printer.received(), bytes);
}

TEST(SendData, PicksThePrinterByVendorProductAndSerial) {
    UsbTestbed bed;
    auto& a = bed.addDevice(
        {.vendorId = 0x1111, .productId = 0x0001, .serial = "SN-A-0001", .ports = {1}});
    auto& b = bed.addDevice(
        {.vendorId = 0x2222, .productId = 0x0002, .serial = "SN-B-0002", .ports = {2}});
    auto& c = bed.addDevice({.vendorId = 0x2222, .productId = 0x0003, .ports = {3}});
    bed.addDevice({.vendorId = 0x3333,
                   .productId = 0x0004,
                   .serial = "SN-C-0004",
                   .interfaces = {vendorInterface()},
                   .ports = {4}});
    const std::vector<usb_testing::EmulatedDevice*> printers{&a, &b, &c};

    struct Case {
        std::optional<QString> serial;
        std::uint16_t vendor, product;
        int expected; // index into `printers`, -1: none
    };
    const Case cases[] = {
        {"SN-A-0001", 0x1111, 0, 0},  // equal serial
        {"B-0002", 0, 0, 1},          // the device's serial contains it
        {std::nullopt, 0, 0x0002, 1}, // product alone
        {std::nullopt, 0x2222, 0x0003, 2},
        {"", 0x2222, 0x0003, 2},    // an empty serial asks for none
        {"SN", 0x2222, 0x0003, -1}, // a device without a serial never matches one
        {"SN-A", 0x2222, 0, -1},    // serial of another vendor's printer
        {"SN-C-0004", 0, 0, -1},    // not a printer
    };
    for (const Case& c : cases) {
        std::vector<std::size_t> before;
        for (auto* p : printers) {
            before.push_back(p->received().size());
        }
        const auto result = send(pattern(10), {c.serial, c.vendor, c.product});
        const std::string label = c.serial.value_or("(none)").toStdString();
        if (c.expected < 0) {
            EXPECT_EQ(result, QStringLiteral("USB printer not found (unplugged?)")) << label;
        } else {
            EXPECT_EQ(result, std::nullopt) << label;
        }
        for (std::size_t i = 0; i < printers.size(); ++i) {
            const std::size_t got = printers[i]->received().size() - before[i];
            EXPECT_EQ(got, static_cast<int>(i) == c.expected ? 10u : 0u)
                << label << " printer " << i;
        }
    }
}

TEST(SendData, RefusesBeforeTouchingAnyPrinter) {
    UsbTestbed bed;
    bed.addDevice({.interfaces = {vendorInterface()}});
    EXPECT_TRUE(listPrinterClassDevices().empty());
    EXPECT_EQ(send({}), QStringLiteral("Empty data"));
    EXPECT_EQ(send(pattern(4)), QStringLiteral("USB printer not found (unplugged?)"));
}

TEST(SendData, AFailedChunkStopsTheWriteAndReportsLibusbsStatus) {
    struct Case {
        const char* name;
        void (usb_testing::EmulatedDevice::*fault)(std::size_t);
        int status;
    };
    const Case cases[] = {
        {"stall", &usb_testing::EmulatedDevice::stallAtUrb, LIBUSB_ERROR_PIPE},
        {"unplug", &usb_testing::EmulatedDevice::unplugAtUrb, LIBUSB_ERROR_NO_DEVICE},
    };
    for (const Case& c : cases) {
        UsbTestbed bed;
        auto& printer = bed.addDevice({});
        (printer.*c.fault)(2);
        const Bytes bytes = pattern(1500);

        EXPECT_EQ(send(bytes), writeFailed(c.status)) << c.name;

        EXPECT_EQ(printer.bulkOutUrbs().size(), 2u) << c.name;
        EXPECT_EQ(printer.received(), Bytes(bytes.begin(), bytes.begin() + 512)) << c.name;
    }
    EXPECT_EQ(writeFailed(LIBUSB_ERROR_PIPE), "USB write failed (0xfffffff7)");
    EXPECT_EQ(writeFailed(LIBUSB_ERROR_NO_DEVICE), "USB write failed (0xfffffffc)");
}

// A printer that stops taking data ends the send once nothing has moved for the no-progress
// limit, instead of holding the caller forever; what went out before is counted.
TEST(SendData, AStuckPrinterTimesOutWithWhatWentOut) {
    for (const std::size_t hangAt : {std::size_t{1}, std::size_t{3}}) {
        UsbTestbed bed;
        auto& printer = bed.addDevice({});
        printer.hangAtUrb(hangAt);

        const auto result = connection::USBPrinterBulk::sendData(pattern(2000), {}, {300ms, {}});

        EXPECT_EQ(result.error, "USB write failed (0xfffffff9)");
        EXPECT_EQ(result.bytesSent, (hangAt - 1) * 512);
        EXPECT_EQ(printer.received().size(), (hangAt - 1) * 512);
        EXPECT_GE(indexOf(printer.requests(), "RELEASEINTERFACE 0"), 0);
    }
    // A manager going away stops the wait at once, whatever the limit.
    UsbTestbed bed;
    bed.addDevice({}).hangAtUrb(1);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(connection::USBPrinterBulk::sendData(pattern(100), {}, {1h, stop.get_token()}).error,
              "USB write failed (0xfffffff9)");
}

// Two identical printers without serial numbers: the one chosen from the list, by its place on
// the bus, gets the bytes, and none other does when it is gone.
TEST(SendData, ThePrinterAtTheListedLocationGetsTheBytes) {
    UsbTestbed bed;
    auto& first = bed.addDevice({.ports = {1}});
    auto& second = bed.addDevice({.ports = {2}});
    const auto listed = listPrinterClassDevices();
    ASSERT_EQ(listed.size(), 2u);
    const auto location = connection::usbLocationId(1, {2});
    EXPECT_TRUE(std::ranges::any_of(listed, [&](const USBPrinterBulkDevice& device) {
        return connection::locationOfDeviceId(device.deviceId()) == location;
    }));

    EXPECT_EQ(send(pattern(10), {std::nullopt, 0x1234, 0x5678, location}), std::nullopt);
    EXPECT_TRUE(first.received().empty());
    EXPECT_EQ(second.received().size(), 10u);
    EXPECT_EQ(send(pattern(10), {std::nullopt, 0x1234, 0x5678, connection::usbLocationId(1, {3})}),
              "USB printer not found (unplugged?)");
    EXPECT_TRUE(first.received().empty());
}

TEST(SendData, NoBulkOutEndpoint) {
    const std::vector<usb_testing::EndpointLayout> endpointSets[] = {
        {{.address = 0x81}},                                        // bulk IN only
        {{.address = 0x02, .attributes = 0x03}, {.address = 0x81}}, // interrupt OUT, bulk IN
    };
    for (const auto& endpoints : endpointSets) {
        UsbTestbed bed;
        auto& printer = bed.addDevice(
            {.interfaces = {InterfaceLayout{.interfaceClass = 7, .endpoints = endpoints}}});

        EXPECT_EQ(send(pattern(4)), QStringLiteral("No USB bulk OUT endpoint"));
        EXPECT_GE(indexOf(printer.requests(), "RELEASEINTERFACE 0"), 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Someone else holds the interface

TEST(SendData, TakesTheInterfaceFromTheKernelDriverAndGivesItBack) {
    for (const bool stall : {false, true}) {
        UsbTestbed bed;
        auto& printer = bed.addDevice({.kernelDriver = "usblp"});
        if (stall) {
            printer.stallAtUrb(1);
        }
        const Bytes bytes = pattern(700);

        const auto result = send(bytes);

        EXPECT_EQ(result, stall ? std::optional(writeFailed(LIBUSB_ERROR_PIPE)) : std::nullopt);
        EXPECT_EQ(printer.received(), stall ? Bytes{} : bytes);
        const auto requests = printer.requests();
        const auto disconnect = indexOf(requests, "DISCONNECT 0");
        const auto release = indexOf(requests, "RELEASEINTERFACE 0");
        ASSERT_GE(disconnect, 0) << stall;
        EXPECT_GT(indexOf(requests, "CLAIMINTERFACE 0", static_cast<std::size_t>(disconnect)),
                  disconnect);
        ASSERT_GE(release, 0);
        EXPECT_GT(indexOf(requests, "CONNECT 0", static_cast<std::size_t>(release)), release);
        EXPECT_EQ(printer.driver(0), "usblp") << stall;
    }
}

TEST(SendData, BusyInterfaceSaysWhoHoldsIt) {
    {
        UsbTestbed bed;
        auto& printer = bed.addDevice({});
        printer.holdByOtherProgram(0);

        EXPECT_EQ(send(pattern(4)),
                  busy(LIBUSB_ERROR_BUSY) + "\n" + connection::access::usbHeldByProgramAdvice());
        EXPECT_EQ(indexOf(printer.requests(), "DISCONNECT 0"), -1);
        EXPECT_TRUE(printer.bulkOutUrbs().empty());
        EXPECT_EQ(printer.driver(0), "usbfs");
    }
    {
        UsbTestbed bed;
        auto& printer = bed.addDevice({.kernelDriver = "usblp"});
        printer.refuseDetach();

        EXPECT_EQ(send(pattern(4)), busy(LIBUSB_ERROR_OTHER) + "\n" +
                                        connection::access::usbHeldByDriverAdvice("usblp"));
        EXPECT_EQ(indexOf(printer.requests(), "CONNECT 0"), -1);
        EXPECT_EQ(printer.driver(0), "usblp");
    }
}

// The device node is the kernel's to guard: a user without access gets libusb's ACCESS status
// and the remedy for it.
TEST(SendData, OpenRefusedForAnotherUser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the send as an unprivileged user";
    }
    UsbTestbed bed;
    auto& printer = bed.addDevice({});
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
    const QString firstLine = output.section('\n', 0, 0);
    EXPECT_EQ(firstLine,
              QStringLiteral("USB plugin open failed (0x%1)").arg(statusText(LIBUSB_ERROR_ACCESS)))
        << probe.errorOutput();
    EXPECT_TRUE(output.section('\n', 1).contains(QString::fromStdString(printer.node())))
        << output.toStdString();
    EXPECT_TRUE(printer.requests().empty());
}

// ---------------------------------------------------------------------------------------------
// The CUPS usb backend against the same emulated printer: our fallback route, and a check on the
// emulation by a USB client nobody here wrote.

TEST(CupsUsbBackend, DeliversToTheEmulatedPrinter) {
    connection::CupsPrograms programs;
    if (geteuid() != 0 || access(programs.usbBackend.toLocal8Bit().constData(), X_OK) != 0) {
        GTEST_SKIP() << "needs root and the CUPS usb backend";
    }
    programs.backendTimeLimit = std::chrono::seconds(60);
    UsbTestbed bed;
    // The backend names the printer after its IEEE 1284 id: MFG "Test", MDL "Receipt 80".
    auto& printer = bed.addDevice({.serial = "CUPS0001", .kernelDriver = "usblp"});
    const Bytes bytes = pattern(3000);

    EXPECT_EQ(connection::sendViaCupsBackend(
                  QStringLiteral("usb://Test/Receipt%2080?serial=CUPS0001"), bytes, programs),
              std::nullopt);

    EXPECT_EQ(printer.received(), bytes);
    EXPECT_EQ(printer.driver(0), "usblp");
}

} // namespace
