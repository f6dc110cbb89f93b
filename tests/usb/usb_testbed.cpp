#include "tests/usb/usb_testbed.hpp"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <stdexcept>
#include <unistd.h>

namespace usb_testing {
namespace {

void put16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::string hexText(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

std::string twoDigitHex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value);
    return text;
}

std::string fourDigitHex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string threeDigits(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%03u", value);
    return text;
}

std::string sysName(std::uint8_t bus, const std::vector<std::uint8_t>& ports) {
    std::string name = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        name += (i == 0 ? "" : ".") + std::to_string(ports[i]);
    }
    return name;
}

// String descriptors: index 0 lists the languages (US English), then UTF-16LE text. The tests
// use ASCII names, which widen byte by byte.
Bytes stringDescriptor(std::uint8_t index, const std::string& product, const std::string& serial) {
    Bytes out;
    if (index == 0) {
        out = {4, 3, 0x09, 0x04};
        return out;
    }
    const std::string& text = index == 2 ? product : serial;
    out.push_back(static_cast<std::uint8_t>(2 + 2 * text.size()));
    out.push_back(3);
    for (char c : text) {
        put16(out, static_cast<std::uint8_t>(c));
    }
    return out;
}

const char* requestName(unsigned long request) {
    switch (request) {
    case USBDEVFS_CLAIMINTERFACE:
        return "CLAIMINTERFACE";
    case USBDEVFS_RELEASEINTERFACE:
        return "RELEASEINTERFACE";
    case USBDEVFS_GETDRIVER:
        return "GETDRIVER";
    case USBDEVFS_SETINTERFACE:
        return "SETINTERFACE";
    case USBDEVFS_SETCONFIGURATION:
        return "SETCONFIGURATION";
    case USBDEVFS_CLEAR_HALT:
        return "CLEAR_HALT";
    case USBDEVFS_RESETEP:
        return "RESETEP";
    case USBDEVFS_RESET:
        return "RESET";
    default:
        return nullptr;
    }
}

struct DataRef {
    explicit DataRef(UMockdevIoctlData* data) : data(data) {}
    ~DataRef() {
        if (data) {
            g_object_unref(data);
        }
    }
    DataRef(const DataRef&) = delete;
    DataRef& operator=(const DataRef&) = delete;
    UMockdevIoctlData* data;
};

// The caller's buffer behind `argument`, copied here and written back on completion.
UMockdevIoctlData* resolve(UMockdevIoctlData* argument, std::size_t size) {
    return umockdev_ioctl_data_resolve(argument, 0, size, nullptr);
}

usbdevfs_urb* urbOf(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

} // namespace

// umockdev's own check answers only once a testbed exists.
bool inMockEnvironment() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

InterfaceLayout printerInterface() {
    return InterfaceLayout{.interfaceClass = 7,
                           .subClass = 1,
                           .protocol = 2,
                           .endpoints = {{.address = 0x01}, {.address = 0x82}}};
}

// ---------------------------------------------------------------------------------------------
// EmulatedDevice

EmulatedDevice::EmulatedDevice(UMockdevTestbed* testbed, DeviceLayout layout, std::uint8_t address,
                               std::string devicePath)
    : testbed_(testbed), layout_(std::move(layout)), address_(address),
      devicePath_(std::move(devicePath)), handler_(umockdev_ioctl_base_new()) {
    for (std::size_t i = 0; i < layout_.interfaces.size(); ++i) {
        const bool bound =
            !layout_.kernelDriver.empty() && layout_.interfaces[i].interfaceClass == 7;
        bindings_[static_cast<unsigned>(i)].owner = bound ? Owner::kernelDriver : Owner::none;
    }
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedDevice::onIoctl), this);
    g_signal_connect(handler_, "client-connected",
                     G_CALLBACK(+[](UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
                         g_signal_connect(
                             client, "notify::connected",
                             G_CALLBACK(+[](UMockdevIoctlClient* c, GParamSpec*, void* device) {
                                 if (!umockdev_ioctl_client_get_connected(c)) {
                                     onClientVanished(nullptr, c, device);
                                 }
                             }),
                             self);
                     }),
                     this);
}

EmulatedDevice::~EmulatedDevice() {
    for (Urb& urb : inFlight_) {
        g_object_unref(urb.data);
    }
    for (Urb& urb : completed_) {
        g_object_unref(urb.data);
    }
    g_object_unref(handler_);
}

std::string EmulatedDevice::node() const {
    return "/dev/bus/usb/" + threeDigits(layout_.bus) + "/" + threeDigits(address_);
}

std::string EmulatedDevice::sysName() const {
    return usb_testing::sysName(layout_.bus, layout_.ports);
}

std::string EmulatedDevice::devicePath() const {
    return devicePath_;
}

void EmulatedDevice::stallAtUrb(std::size_t urb) {
    std::lock_guard lock(mutex_);
    stallAt_ = urb;
}

void EmulatedDevice::unplugAtUrb(std::size_t urb) {
    std::lock_guard lock(mutex_);
    unplugAt_ = urb;
}

void EmulatedDevice::hangAtUrb(std::size_t urb) {
    std::lock_guard lock(mutex_);
    hangAt_ = urb;
}

void EmulatedDevice::acceptAtMost(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    acceptLimit_ = bytes;
}

void EmulatedDevice::holdByOtherProgram(std::uint8_t interfaceNumber) {
    std::lock_guard lock(mutex_);
    bindings_[interfaceNumber] = Binding{Owner::otherProgram, nullptr};
    setDriverLink(interfaceNumber);
}

void EmulatedDevice::refuseDetach() {
    std::lock_guard lock(mutex_);
    refuseDetach_ = true;
}

std::vector<Bytes> EmulatedDevice::bulkOutUrbs() const {
    std::lock_guard lock(mutex_);
    return bulkOutUrbs_;
}

Bytes EmulatedDevice::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> EmulatedDevice::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string EmulatedDevice::driver(std::uint8_t interfaceNumber) const {
    std::lock_guard lock(mutex_);
    return driverName(interfaceNumber);
}

bool EmulatedDevice::waitForReceived(std::size_t bytes, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return received_.size() >= bytes; });
}

int EmulatedDevice::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    static_cast<EmulatedDevice*>(self)->handle(client);
    return TRUE;
}

// The kernel, when a usbfs file closes: its URBs are killed and its interfaces released.
void EmulatedDevice::onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    auto* device = static_cast<EmulatedDevice*>(self);
    std::lock_guard lock(device->mutex_);
    for (auto& [number, binding] : device->bindings_) {
        if (binding.owner == Owner::program && binding.client == client) {
            binding = Binding{};
            device->setDriverLink(number);
        }
    }
    const auto ownedByClient = [client](const Urb& urb) {
        if (urb.client == client) {
            g_object_unref(urb.data);
            return true;
        }
        return false;
    };
    std::erase_if(device->inFlight_, ownedByClient);
    std::erase_if(device->completed_, ownedByClient);
    device->changed_.notify_all();
}

void EmulatedDevice::log(std::string request) {
    requests_.push_back(std::move(request));
}

void EmulatedDevice::handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    long result = 0;
    {
        std::lock_guard lock(mutex_);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            DataRef caps(resolve(argument, sizeof(std::uint32_t)));
            const std::uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps.data->data, &value, sizeof value);
            break;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: {
            DataRef number(resolve(argument, sizeof(unsigned)));
            unsigned interfaceNumber = 0;
            std::memcpy(&interfaceNumber, number.data->data, sizeof interfaceNumber);
            log(std::string(requestName(request)) + " " + std::to_string(interfaceNumber));
            result = request == USBDEVFS_CLAIMINTERFACE ? claim(client, interfaceNumber)
                                                        : release(client, interfaceNumber);
            break;
        }
        case USBDEVFS_GETDRIVER:
            result = getDriver(argument);
            break;
        case USBDEVFS_IOCTL:
            result = driverIoctl(argument);
            break;
        case USBDEVFS_SUBMITURB:
            result = submitUrb(client, argument);
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            result = reapUrb(argument);
            break;
        case USBDEVFS_DISCARDURB:
            result = discardUrb(argument);
            break;
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            log(requestName(request));
            result = gone_ ? -ENODEV : 0;
            break;
        default:
            result = -ENOTTY;
            break;
        }
        changed_.notify_all();
    }
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                   result < 0 ? static_cast<int>(-result) : 0);
}

bool EmulatedDevice::interfaceExists(unsigned number) const {
    return number < layout_.interfaces.size();
}

std::string EmulatedDevice::driverName(unsigned number) const {
    const auto it = bindings_.find(number);
    if (it == bindings_.end()) {
        return {};
    }
    switch (it->second.owner) {
    case Owner::kernelDriver:
        return layout_.kernelDriver;
    case Owner::program:
    case Owner::otherProgram:
        return "usbfs";
    case Owner::none:
        break;
    }
    return {};
}

// Keeps the interface's sysfs "driver" link as the kernel does on bind and unbind.
void EmulatedDevice::setDriverLink(unsigned number) {
    gchar* sysDir = umockdev_testbed_get_sys_dir(testbed_);
    const std::string link = std::string(sysDir) + devicePath_ + "/" + sysName() + ":1." +
                             std::to_string(number) + "/driver";
    g_free(sysDir);
    ::unlink(link.c_str());
    const std::string name = driverName(number);
    if (!name.empty()) {
        const std::string target = "../../../../../../bus/usb/drivers/" + name;
        if (::symlink(target.c_str(), link.c_str()) != 0) {
            // The interface directory is missing only when the device was built without it.
        }
    }
}

long EmulatedDevice::claim(UMockdevIoctlClient* client, unsigned interfaceNumber) {
    if (gone_) {
        return -ENODEV;
    }
    if (!interfaceExists(interfaceNumber)) {
        return -ENOENT;
    }
    Binding& binding = bindings_[interfaceNumber];
    if (binding.owner == Owner::program && binding.client == client) {
        return 0;
    }
    if (binding.owner != Owner::none) {
        return -EBUSY;
    }
    binding = Binding{Owner::program, client};
    setDriverLink(interfaceNumber);
    return 0;
}

long EmulatedDevice::release(UMockdevIoctlClient* client, unsigned interfaceNumber) {
    if (gone_) {
        return -ENODEV;
    }
    Binding& binding = bindings_[interfaceNumber];
    if (binding.owner != Owner::program || binding.client != client) {
        return -EINVAL;
    }
    binding = Binding{};
    setDriverLink(interfaceNumber);
    return 0;
}

long EmulatedDevice::getDriver(UMockdevIoctlData* argument) {
    DataRef request(resolve(argument, sizeof(usbdevfs_getdriver)));
    auto* getDriver = reinterpret_cast<usbdevfs_getdriver*>(request.data->data);
    log("GETDRIVER " + std::to_string(getDriver->interface));
    if (gone_) {
        return -ENODEV;
    }
    if (!interfaceExists(getDriver->interface)) {
        return -EINVAL;
    }
    const std::string name = driverName(getDriver->interface);
    if (name.empty()) {
        return -ENODATA;
    }
    std::snprintf(getDriver->driver, sizeof getDriver->driver, "%s", name.c_str());
    return 0;
}

// USBDEVFS_IOCTL: a request for the driver of one interface. usbfs itself acts on two of them:
// DISCONNECT unbinds whatever driver holds the interface, CONNECT lets the kernel probe it again
// and answers 1 when a driver took it.
long EmulatedDevice::driverIoctl(UMockdevIoctlData* argument) {
    DataRef request(resolve(argument, sizeof(usbdevfs_ioctl)));
    const auto* command = reinterpret_cast<const usbdevfs_ioctl*>(request.data->data);
    const auto number = static_cast<unsigned>(command->ifno);
    if (gone_) {
        return -ENODEV;
    }
    if (!interfaceExists(number)) {
        return -EINVAL;
    }
    Binding& binding = bindings_[number];
    switch (static_cast<unsigned long>(command->ioctl_code)) {
    case USBDEVFS_DISCONNECT:
        log("DISCONNECT " + std::to_string(number));
        if (refuseDetach_) {
            return -EACCES;
        }
        if (binding.owner == Owner::none) {
            return -ENODATA;
        }
        binding = Binding{};
        setDriverLink(number);
        return 0;
    case USBDEVFS_CONNECT:
        log("CONNECT " + std::to_string(number));
        if (binding.owner != Owner::none || layout_.kernelDriver.empty() ||
            layout_.interfaces[number].interfaceClass != 7) {
            return 0;
        }
        binding = Binding{Owner::kernelDriver, nullptr};
        setDriverLink(number);
        return 1;
    default:
        // Only a bound kernel driver could answer; usblp has no such ioctls for usbfs callers.
        return binding.owner == Owner::none ? -ENODATA : -ENOTTY;
    }
}

const InterfaceLayout* EmulatedDevice::interfaceFor(std::uint8_t endpoint, unsigned* number) const {
    for (std::size_t i = 0; i < layout_.interfaces.size(); ++i) {
        for (const EndpointLayout& candidate : layout_.interfaces[i].endpoints) {
            if (candidate.address == endpoint) {
                *number = static_cast<unsigned>(i);
                return &layout_.interfaces[i];
            }
        }
    }
    return nullptr;
}

long EmulatedDevice::submitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
    UMockdevIoctlData* data = resolve(argument, sizeof(usbdevfs_urb));
    usbdevfs_urb* header = urbOf(data);
    DataRef buffer(
        header->buffer_length > 0
            ? umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                          static_cast<std::size_t>(header->buffer_length), nullptr)
            : nullptr);
    if (gone_) {
        g_object_unref(data);
        return -ENODEV;
    }
    Urb urb{data, client};
    if (header->type == USBDEVFS_URB_TYPE_CONTROL && header->endpoint == 0) {
        controlTransfer(urb, buffer.data);
        completed_.push_back(urb);
        return 0;
    }
    unsigned number = 0;
    if (header->type != USBDEVFS_URB_TYPE_BULK ||
        interfaceFor(header->endpoint, &number) == nullptr) {
        g_object_unref(data);
        return -ENOENT;
    }
    // Using an interface without claiming it makes the kernel claim it on the caller's behalf.
    if (const long claimed = claim(client, number); claimed != 0) {
        g_object_unref(data);
        return claimed;
    }
    if ((header->endpoint & 0x80) != 0) {
        // The printer has nothing to say and answers a read with a zero-length packet. (One
        // that NAKs instead keeps the CUPS backend's reader blocked past its teardown.)
        completed_.push_back(urb);
        return 0;
    }
    bulkOut(urb, buffer.data);
    return 0;
}

void EmulatedDevice::bulkOut(Urb& urb, UMockdevIoctlData* buffer) {
    const usbdevfs_urb* header = urbOf(urb.data);
    const std::size_t length = static_cast<std::size_t>(header->buffer_length);
    const std::uint8_t* payload = buffer ? buffer->data : nullptr;
    bulkOutUrbs_.emplace_back(payload, payload + (payload ? length : 0));
    const std::size_t number = ++urbCount_;
    if (hangAt_ && number >= *hangAt_) {
        inFlight_.push_back(urb);
        return;
    }
    if (stallAt_ && number == *stallAt_) {
        urb.status = -EPIPE;
    } else if (unplugAt_ && number == *unplugAt_) {
        // The host controller flushes the endpoint of a vanished device.
        urb.status = -ESHUTDOWN;
        gone_ = true;
        for (auto& [index, binding] : bindings_) {
            binding = Binding{};
        }
    } else {
        const std::size_t accepted = std::min(length, acceptLimit_);
        received_.insert(received_.end(), payload, payload + accepted);
        urb.actualLength = static_cast<int>(accepted);
    }
    completed_.push_back(urb);
}

void EmulatedDevice::controlTransfer(Urb& urb, UMockdevIoctlData* buffer) {
    if (!buffer || buffer->data_len < 8) {
        urb.status = -EINVAL;
        return;
    }
    std::uint8_t* setup = buffer->data;
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const unsigned value = setup[2] | (setup[3] << 8);
    const unsigned length = setup[6] | (setup[7] << 8);
    Bytes reply;
    bool stall = false;
    if (requestType == 0x80 && request == 6) { // GET_DESCRIPTOR
        const unsigned type = value >> 8;
        const unsigned index = value & 0xFF;
        if (type == 1) {
            reply = deviceDescriptor();
        } else if (type == 2) {
            reply = configDescriptor();
        } else if (type == 3 && (index == 0 || (index == 2 && !layout_.product.empty()) ||
                                 (index == 3 && !layout_.serial.empty()))) {
            reply =
                stringDescriptor(static_cast<std::uint8_t>(index), layout_.product, layout_.serial);
        } else {
            stall = true;
        }
    } else if (requestType == 0x80 && request == 8) { // GET_CONFIGURATION
        reply = {1};
    } else if (requestType == 0x80 && request == 0) { // GET_STATUS: self-powered
        reply = {1, 0};
    } else if (requestType == 0xA1 && request == 0) { // printer class: GET_DEVICE_ID
        put16(reply, 0);
        reply.insert(reply.end(), layout_.ieee1284Id.begin(), layout_.ieee1284Id.end());
        const auto total = static_cast<std::uint16_t>(reply.size());
        reply[0] = static_cast<std::uint8_t>(total >> 8); // big-endian, counting itself
        reply[1] = static_cast<std::uint8_t>(total & 0xFF);
    } else if (requestType == 0xA1 && request == 1) { // GET_PORT_STATUS: selected, no error
        reply = {0x18};
    } else if ((requestType == 0x21 && request == 2) ||  // SOFT_RESET
               (requestType == 0x00 && request == 9) ||  // SET_CONFIGURATION
               (requestType == 0x01 && request == 11)) { // SET_INTERFACE
    } else {
        stall = true;
    }
    log("CONTROL " + twoDigitHex(requestType) + " " + twoDigitHex(request));
    if (stall) {
        urb.status = -EPIPE;
        return;
    }
    const std::size_t room =
        std::min<std::size_t>(length, static_cast<std::size_t>(buffer->data_len) - 8);
    const std::size_t count = std::min(reply.size(), room);
    std::copy_n(reply.begin(), count, buffer->data + 8);
    urb.actualLength = static_cast<int>(count);
}

long EmulatedDevice::reapUrb(UMockdevIoctlData* argument) {
    if (completed_.empty()) {
        return gone_ ? -ENODEV : -EAGAIN;
    }
    Urb urb = completed_.front();
    completed_.pop_front();
    usbdevfs_urb* header = urbOf(urb.data);
    header->status = urb.status;
    header->actual_length = urb.actualLength;
    DataRef pointer(resolve(argument, sizeof(void*)));
    umockdev_ioctl_data_set_ptr(pointer.data, 0, urb.data);
    g_object_unref(urb.data); // the reap's argument holds it until the caller has it back
    return 0;
}

long EmulatedDevice::discardUrb(UMockdevIoctlData* argument) {
    void* address = nullptr;
    std::memcpy(&address, argument->data, sizeof address);
    const auto it = std::find_if(inFlight_.begin(), inFlight_.end(), [&](const Urb& urb) {
        return urb.data->client_addr == reinterpret_cast<gulong>(address);
    });
    if (it == inFlight_.end()) {
        return -EINVAL;
    }
    Urb urb = *it;
    inFlight_.erase(it);
    urb.status = -ECONNRESET; // what usb_unlink_urb leaves in a URB
    completed_.push_back(urb);
    return 0;
}

Bytes EmulatedDevice::deviceDescriptor() const {
    Bytes out{18, 1};
    put16(out, 0x0200);
    out.insert(out.end(), {layout_.deviceClass, 0, 0, 64});
    put16(out, layout_.vendorId);
    put16(out, layout_.productId);
    put16(out, 0x0100);
    out.push_back(0);                               // iManufacturer
    out.push_back(layout_.product.empty() ? 0 : 2); // iProduct
    out.push_back(layout_.serial.empty() ? 0 : 3);  // iSerialNumber
    out.push_back(1);                               // bNumConfigurations
    return out;
}

Bytes EmulatedDevice::configDescriptor() const {
    Bytes body;
    for (std::size_t i = 0; i < layout_.interfaces.size(); ++i) {
        const InterfaceLayout& interface = layout_.interfaces[i];
        body.insert(body.end(),
                    {9, 4, static_cast<std::uint8_t>(i), 0,
                     static_cast<std::uint8_t>(interface.endpoints.size()),
                     interface.interfaceClass, interface.subClass, interface.protocol, 0});
        for (const EndpointLayout& endpoint : interface.endpoints) {
            body.insert(body.end(), {7, 5, endpoint.address, endpoint.attributes});
            put16(body, endpoint.maxPacketSize);
            body.push_back((endpoint.attributes & 3) == 3 ? 10 : 0);
        }
    }
    Bytes out{9, 2};
    put16(out, static_cast<std::uint16_t>(9 + body.size()));
    out.insert(out.end(), {static_cast<std::uint8_t>(layout_.interfaces.size()), 1, 0, 0xC0, 50});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// ---------------------------------------------------------------------------------------------
// UsbTestbed

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
    if (!umockdev_in_mock_environment()) {
        throw std::runtime_error("not running under umockdev-wrapper");
    }
}

UsbTestbed::~UsbTestbed() {
    // Nodes first, so no client is left talking to a handler that is gone.
    for (const auto& device : devices_) {
        umockdev_testbed_detach_ioctl(testbed_, device->node().c_str(), nullptr);
    }
    g_object_unref(testbed_);
    devices_.clear();
}

std::string UsbTestbed::rootDirectory() const {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string path(root);
    g_free(root);
    return path;
}

std::uint8_t UsbTestbed::nextAddress(std::uint8_t bus) {
    auto [it, inserted] = lastAddress_.try_emplace(bus, 1); // 1 is the root hub's
    return ++it->second;
}

void UsbTestbed::addFromString(const std::string& record) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev rejected the device: " + message);
    }
}

// The hubs between the root hub and a device, added once each; returns the parent's path.
std::string UsbTestbed::ensureParent(std::uint8_t bus, const std::vector<std::uint8_t>& ports) {
    std::string path = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus);
    for (std::size_t depth = 1; depth < ports.size(); ++depth) {
        const std::vector<std::uint8_t> hubPorts(ports.begin(),
                                                 ports.begin() + static_cast<long>(depth));
        const std::string name = sysName(bus, hubPorts);
        path += "/" + name;
        if (hubs_.count(name) != 0) {
            continue;
        }
        hubs_[name] = path;
        const std::uint8_t address = nextAddress(bus);
        const std::string node = "bus/usb/" + threeDigits(bus) + "/" + threeDigits(address);
        // A four-port USB 2.0 hub: class 9, one interrupt IN endpoint.
        const Bytes descriptors{18,   1,    0x00, 0x02, 9, 0,    1, 64, 0x09, 0x21, 0x14,
                                0x28, 0x00, 0x01, 0,    0, 0,    1, 9,  2,    25,   0,
                                1,    1,    0,    0xE0, 0, 9,    4, 0,  0,    1,    9,
                                0,    0,    0,    7,    5, 0x81, 3, 1,  0,    12};
        addFromString("P: " + path + "\nN: " + node +
                      "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/" + node +
                      "\nE: BUSNUM=" + threeDigits(bus) + "\nE: DEVNUM=" + threeDigits(address) +
                      "\nA: busnum=" + std::to_string(bus) +
                      "\\n\nA: devnum=" + std::to_string(address) +
                      "\\n\nA: bDeviceClass=09\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n"
                      "H: descriptors=" +
                      hexText(descriptors) + "\n");
    }
    return path;
}

EmulatedDevice& UsbTestbed::addDevice(const DeviceLayout& layout) {
    if (layout.ports.empty()) {
        throw std::invalid_argument("a device needs a port path");
    }
    const std::string parent = ensureParent(layout.bus, layout.ports);
    const std::uint8_t address = nextAddress(layout.bus);
    const std::string name = sysName(layout.bus, layout.ports);
    const std::string path = parent + "/" + name;
    auto device = std::make_unique<EmulatedDevice>(testbed_, layout, address, path);
    EmulatedDevice& added = *device;
    const std::string node = added.node();

    // The handler goes first: libusb may open the node as soon as the device exists.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), added.handler(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot attach the usbdevfs handler: " + message);
    }

    const Bytes descriptors = [&] {
        Bytes all = added.deviceDescriptor();
        const Bytes config = added.configDescriptor();
        all.insert(all.end(), config.begin(), config.end());
        return all;
    }();
    std::string record =
        "P: " + path + "\nN: " + node.substr(5) +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + node +
        "\nE: BUSNUM=" + threeDigits(layout.bus) + "\nE: DEVNUM=" + threeDigits(address) +
        "\nA: busnum=" + std::to_string(layout.bus) + "\\n\nA: devnum=" + std::to_string(address) +
        "\\n\nA: idVendor=" + fourDigitHex(layout.vendorId) +
        "\\n\nA: idProduct=" + fourDigitHex(layout.productId) +
        "\\n\nA: bDeviceClass=" + twoDigitHex(layout.deviceClass) +
        "\\n\nA: bNumInterfaces=" + std::to_string(layout.interfaces.size()) +
        "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n";
    // The kernel creates these attributes only for strings the device has.
    if (layout.stringsInSysfs && !layout.product.empty()) {
        record += "A: product=" + layout.product + "\\n\n";
    }
    if (layout.stringsInSysfs && !layout.serial.empty()) {
        record += "A: serial=" + layout.serial + "\\n\n";
    }
    record += "H: descriptors=" + hexText(descriptors) + "\n";
    for (std::size_t i = 0; i < layout.interfaces.size(); ++i) {
        const InterfaceLayout& interface = layout.interfaces[i];
        record += "\nP: " + path + "/" + name + ":1." + std::to_string(i) +
                  "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=" +
                  twoDigitHex(static_cast<unsigned>(i)) +
                  "\\n\nA: bInterfaceClass=" + twoDigitHex(interface.interfaceClass) +
                  "\\n\nA: bNumEndpoints=" +
                  twoDigitHex(static_cast<unsigned>(interface.endpoints.size())) + "\\n\n";
    }
    addFromString(record);
    for (std::size_t i = 0; i < layout.interfaces.size(); ++i) {
        std::lock_guard lock(added.mutex_);
        added.setDriverLink(static_cast<unsigned>(i));
    }
    devices_.push_back(std::move(device));
    return added;
}

} // namespace usb_testing
