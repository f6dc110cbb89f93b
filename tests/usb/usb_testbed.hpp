#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// USB devices on a bus emulated by umockdev, for libusb's real code to talk to. The fake sysfs
// describes each device the way the kernel does; the usbdevfs ioctls on its node are answered
// the way the kernel would (claiming, drivers, URBs), with the printer behind the bus taking
// bulk data or failing on demand.
//
// Needs umockdev's preload library (run under umockdev-wrapper). Add devices before the code
// under test starts libusb: a context enumerates once, when it starts.

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace usb_testing {

using Bytes = std::vector<std::uint8_t>;

struct EndpointLayout {
    std::uint8_t address;           // bit 7 set: IN
    std::uint8_t attributes = 0x02; // transfer type in bits 0-1: 2 bulk, 3 interrupt
};

// Printer class 7 with a bulk OUT and a bulk IN endpoint, unless told otherwise.
struct InterfaceLayout {
    std::uint8_t interfaceClass = 7;
    std::vector<EndpointLayout> endpoints{{0x01}, {0x82}};
};

// A device as it is plugged in, and how the printer behind it misbehaves.
struct DeviceLayout {
    std::uint16_t vendorId = 0x1234;
    std::uint16_t productId = 0x5678;
    std::string product; // empty: the device has no product string
    std::string serial;  // empty: no serial number string
    std::vector<InterfaceLayout> interfaces{InterfaceLayout{}};
    std::uint8_t bus = 1;
    std::uint8_t port = 1; // on the root hub
    // Kernel driver bound to the printer-class interfaces at plug-in ("usblp"); empty for none.
    std::string kernelDriver;
    // Whether sysfs shows the product and serial strings, as the kernel does once it read them.
    bool stringsInSysfs = true;
    // Faults, by bulk OUT URB counted from 1 (0: never): the endpoint halts (EPIPE), the cable
    // is pulled while the URB is on the bus, or the printer takes no data from that one on.
    std::size_t stallAtUrb = 0, unplugAtUrb = 0, hangAtUrb = 0;
    std::size_t acceptAtMost = SIZE_MAX; // bytes one URB moves
    // Another program's usbfs file holds interface 0 (the CUPS backend printing, say); with a
    // kernel driver, it takes the interface the moment the driver lets go of it.
    bool heldByOtherProgram = false;
    // Detaching the kernel driver is refused, as for a process that dropped its privileges.
    bool refuseDetach = false;
};

// Whether umockdev's preload library is in this process.
bool inMockEnvironment();

// One device node and the device behind it. Thread-safe: the kernel side runs on umockdev's
// thread while the test reads from its own.
class EmulatedDevice {
public:
    virtual ~EmulatedDevice() = default;
    virtual std::string node() const = 0; // /dev/bus/usb/BBB/DDD
    // The sizes of the bulk OUT URBs as submitted, in order.
    virtual std::vector<std::size_t> urbSizes() const = 0;
    // What the printer accepted, in order.
    virtual Bytes received() const = 0;
    // Driver bound to an interface now: "usbfs" while a program claims it, "" when none.
    virtual std::string driver(unsigned interfaceNumber) const = 0;
    // The interface's directory below /sys.
    virtual std::string interfacePath(unsigned interfaceNumber) const = 0;
};

// A umockdev testbed holding emulated USB devices. One per test; it removes its files when
// destroyed.
class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    EmulatedDevice& addDevice(const DeviceLayout& layout);
    // A terminal: below the first interface of `usb`, or a platform one when `usb` is null.
    void addTty(const EmulatedDevice* usb, const std::string& name);
    std::string rootDirectory() const;

private:
    void add(const std::string& record);

    UMockdevTestbed* testbed_;
    std::vector<std::unique_ptr<EmulatedDevice>> devices_;
    std::map<std::uint8_t, std::uint8_t> lastAddress_;
};

} // namespace usb_testing
