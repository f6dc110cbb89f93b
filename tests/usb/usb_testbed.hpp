#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// USB devices on a bus emulated by umockdev, for libusb's real code to talk to. The fake sysfs
// describes each device the way the kernel does; the usbdevfs ioctls on its node are answered
// here the way the kernel would (claiming, drivers, URBs), with the device behind the bus
// accepting bulk data or failing on demand.
//
// Needs umockdev's preload library (run under umockdev-wrapper). Add devices before the code
// under test starts libusb: a context enumerates once, when it starts.

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace usb_testing {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

struct EndpointLayout {
    std::uint8_t address;           // bit 7 set: IN
    std::uint8_t attributes = 0x02; // transfer type in bits 0-1: 2 bulk, 3 interrupt
    std::uint16_t maxPacketSize = 512;
};

struct InterfaceLayout {
    std::uint8_t interfaceClass;
    std::uint8_t subClass = 0;
    std::uint8_t protocol = 0;
    std::vector<EndpointLayout> endpoints;
};

// Whether umockdev's preload library is in this process.
bool inMockEnvironment();

// Class 7, bidirectional: bulk OUT 0x01 and bulk IN 0x82.
InterfaceLayout printerInterface();

struct DeviceLayout {
    std::uint16_t vendorId = 0x1234;
    std::uint16_t productId = 0x5678;
    std::string product; // empty: the device has no product string
    std::string serial;  // empty: no serial number string
    std::vector<InterfaceLayout> interfaces{printerInterface()};
    std::uint8_t bus = 1;
    // Ports from the root hub down; hubs for the upper tiers are added as needed.
    std::vector<std::uint8_t> ports{1};
    // Kernel driver bound to the printer-class interfaces at plug-in ("usblp"); empty for none.
    std::string kernelDriver;
    // What the printer answers to the class request GET_DEVICE_ID.
    std::string ieee1284Id = "MFG:Test;MDL:Receipt 80;CMD:RAW;CLS:PRINTER;";
    std::uint8_t deviceClass = 0;
    // Whether sysfs shows the product and serial strings, as the kernel does once it read them.
    bool stringsInSysfs = true;
};

// One device node and the device behind it. Thread-safe: the kernel side runs on umockdev's
// thread while the test reads from its own.
class EmulatedDevice {
public:
    EmulatedDevice(UMockdevTestbed* testbed, DeviceLayout layout, std::uint8_t address,
                   std::string devicePath);
    ~EmulatedDevice();
    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    const DeviceLayout& layout() const { return layout_; }
    std::uint8_t address() const { return address_; }
    std::string node() const;       // /dev/bus/usb/BBB/DDD
    std::string sysName() const;    // 1-2.4
    std::string devicePath() const; // /devices/…/1-2.4, the sysfs path below /sys

    // Faults of the device behind the bus; URBs are bulk OUT URBs counted from 1.
    void stallAtUrb(std::size_t urb);     // the endpoint halts: that URB ends with EPIPE
    void unplugAtUrb(std::size_t urb);    // the cable is pulled while that URB is on the bus
    void hangAtUrb(std::size_t urb);      // the printer stops taking data at that URB
    void acceptAtMost(std::size_t bytes); // each URB moves at most this many bytes
    // Another program's usbfs file holds the interface (the CUPS backend printing, say).
    void holdByOtherProgram(std::uint8_t interfaceNumber);
    // Detaching the kernel driver is refused, as for a process that dropped its privileges.
    void refuseDetach();

    // Payloads of the bulk OUT URBs as submitted, in order.
    std::vector<Bytes> bulkOutUrbs() const;
    // What the printer accepted, in order.
    Bytes received() const;
    // The usbdevfs requests seen, e.g. "CLAIMINTERFACE 0", "DISCONNECT 0", "CONNECT 0".
    std::vector<std::string> requests() const;
    // Driver bound to an interface now: "usbfs" while a program claims it, "" when none.
    std::string driver(std::uint8_t interfaceNumber) const;
    // Waits until at least `bytes` bytes were accepted; false when `limit` passes first.
    bool waitForReceived(std::size_t bytes, std::chrono::milliseconds limit = 15s) const;

    UMockdevIoctlBase* handler() const { return handler_; }

private:
    friend class UsbTestbed;
    enum class Owner { none, kernelDriver, program, otherProgram };
    struct Binding {
        Owner owner = Owner::none;
        UMockdevIoctlClient* client = nullptr; // the file that claimed it, for Owner::program
    };
    struct Urb {
        UMockdevIoctlData* data; // the caller's struct usbdevfs_urb, resolved
        UMockdevIoctlClient* client;
        int status = 0;
        int actualLength = 0;
    };

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void onClientVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client,
                                 void* self);
    void handle(UMockdevIoctlClient* client);
    // Each returns the ioctl's result, or a negative errno.
    long claim(UMockdevIoctlClient* client, unsigned interfaceNumber);
    long release(UMockdevIoctlClient* client, unsigned interfaceNumber);
    long getDriver(UMockdevIoctlData* argument);
    long driverIoctl(UMockdevIoctlData* argument);
    long submitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    long reapUrb(UMockdevIoctlData* argument);
    long discardUrb(UMockdevIoctlData* argument);
    void controlTransfer(Urb& urb, UMockdevIoctlData* buffer);
    void bulkOut(Urb& urb, UMockdevIoctlData* buffer);
    const InterfaceLayout* interfaceFor(std::uint8_t endpoint, unsigned* number) const;
    bool interfaceExists(unsigned number) const;
    std::string driverName(unsigned number) const;
    void setDriverLink(unsigned number);
    Bytes deviceDescriptor() const;
    Bytes configDescriptor() const;
    void log(std::string request);

    UMockdevTestbed* testbed_;
    DeviceLayout layout_;
    std::uint8_t address_;
    std::string devicePath_;
    UMockdevIoctlBase* handler_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<unsigned, Binding> bindings_;
    std::vector<Urb> inFlight_;
    std::deque<Urb> completed_;
    std::vector<Bytes> bulkOutUrbs_;
    Bytes received_;
    std::vector<std::string> requests_;
    std::size_t urbCount_ = 0;
    std::optional<std::size_t> stallAt_, unplugAt_, hangAt_;
    std::size_t acceptLimit_ = SIZE_MAX;
    bool refuseDetach_ = false;
    bool gone_ = false;
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
    // For other kinds of node (tty devices below a USB device): umockdev's record format.
    void addFromString(const std::string& record);

    UMockdevTestbed* testbed() const { return testbed_; }
    std::string rootDirectory() const;

private:
    std::string ensureParent(std::uint8_t bus, const std::vector<std::uint8_t>& ports);
    std::uint8_t nextAddress(std::uint8_t bus);

    UMockdevTestbed* testbed_;
    std::vector<std::unique_ptr<EmulatedDevice>> devices_;
    std::map<std::string, std::string> hubs_; // sysfs name → device path
    std::map<std::uint8_t, std::uint8_t> lastAddress_;
};

} // namespace usb_testing
