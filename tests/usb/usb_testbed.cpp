#include "tests/usb/usb_testbed.hpp"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <mutex>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace usb_testing {
namespace {

template <typename... Values> std::string format(const char* pattern, Values... values) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

void put16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// The caller's buffer behind an ioctl argument, copied here and written back on completion.
class Buffer {
public:
    Buffer(UMockdevIoctlData* argument, std::size_t size, std::size_t offset = 0)
        : data_(size > 0 ? umockdev_ioctl_data_resolve(argument, offset, size, nullptr) : nullptr) {
    }
    ~Buffer() {
        if (data_) {
            g_object_unref(data_);
        }
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // Keeps the data alive past this object, for a URB that completes later.
    UMockdevIoctlData* get() const { return data_; }
    UMockdevIoctlData* take() { return std::exchange(data_, nullptr); }
    template <typename T> T* as() const {
        return data_ ? reinterpret_cast<T*>(data_->data) : nullptr;
    }
    std::size_t size() const { return data_ ? data_->data_len : 0; }

private:
    UMockdevIoctlData* data_;
};

// The kernel side of one device: which driver has each interface, and the URBs of usbfs files.
class Device : public EmulatedDevice {
public:
    Device(DeviceLayout layout, std::uint8_t address)
        : layout_(std::move(layout)), address_(address), drivers_(layout_.interfaces.size()),
          handler_(umockdev_ioctl_base_new()) {
        for (std::size_t i = 0; i < drivers_.size(); ++i) {
            if (layout_.interfaces[i].interfaceClass == 7) {
                drivers_[i] = {layout_.kernelDriver};
            }
        }
        if (layout_.heldByOtherProgram && drivers_[0].name.empty()) {
            drivers_[0] = {"usbfs"};
        }
        g_signal_connect(
            handler_, "handle-ioctl",
            G_CALLBACK(+[](UMockdevIoctlBase*, UMockdevIoctlClient* client, Device* self) {
                const long result = self->handle(client, umockdev_ioctl_client_get_request(client),
                                                 umockdev_ioctl_client_get_arg(client));
                umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                               result < 0 ? static_cast<int>(-result) : 0);
                return TRUE;
            }),
            this);
    }
    ~Device() override {
        for (const Urb& urb : inFlight_) {
            g_object_unref(urb.data);
        }
        for (const Urb& urb : completed_) {
            g_object_unref(urb.data);
        }
        g_object_unref(handler_);
    }

    std::string node() const override {
        return format("/dev/bus/usb/%03u/%03u", layout_.bus, address_);
    }
    std::vector<std::size_t> urbSizes() const override { return locked(urbSizes_); }
    Bytes received() const override { return locked(received_); }
    std::string driver(unsigned interfaceNumber) const override {
        return locked(drivers_).at(interfaceNumber).name;
    }
    std::string interfacePath(unsigned interfaceNumber) const override {
        return path() + "/" + name() + ":1." + std::to_string(interfaceNumber);
    }
    // The kernel's name for the device, and its directory below /sys.
    std::string name() const {
        return std::to_string(layout_.bus) + "-" + std::to_string(layout_.port);
    }
    std::string path() const {
        return "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(layout_.bus) + "/" + name();
    }

    UMockdevIoctlBase* handler() const { return handler_; }
    // The device descriptor, then the configuration with its interfaces and endpoints.
    Bytes descriptors() const {
        Bytes out{18, 1, 0x00, 0x02, 0, 0, 0, 64};
        put16(out, layout_.vendorId);
        put16(out, layout_.productId);
        const std::uint8_t product = layout_.product.empty() ? 0 : 2;
        const std::uint8_t serial = layout_.serial.empty() ? 0 : 3;
        out.insert(out.end(), {0x00, 0x01, 0, product, serial, 1, 9, 2});
        Bytes body;
        for (std::size_t i = 0; i < layout_.interfaces.size(); ++i) {
            const auto& endpoints = layout_.interfaces[i].endpoints;
            body.insert(body.end(), {9, 4, static_cast<std::uint8_t>(i), 0,
                                     static_cast<std::uint8_t>(endpoints.size()),
                                     layout_.interfaces[i].interfaceClass, 0, 0, 0});
            for (const EndpointLayout& endpoint : endpoints) {
                body.insert(body.end(), {7, 5, endpoint.address, endpoint.attributes, 0, 2, 1});
            }
        }
        put16(out, static_cast<std::uint16_t>(9 + body.size()));
        out.insert(out.end(), {static_cast<std::uint8_t>(drivers_.size()), 1, 0, 0xC0, 50});
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

private:
    // Who has an interface: a kernel driver, "usbfs" for a program (`client`, or another
    // program's when null), "" for nobody.
    struct Binding {
        std::string name;
        UMockdevIoctlClient* client = nullptr;
    };
    struct Urb {
        UMockdevIoctlData* data; // the caller's struct usbdevfs_urb, resolved
        int status = 0;
        int actualLength = 0;
    };

    template <typename T> T locked(const T& member) const {
        std::lock_guard lock(mutex_);
        return member;
    }

    // The ioctl's result, or a negative errno.
    long handle(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* argument) {
        std::lock_guard lock(mutex_);
        switch (request) {
        case USBDEVFS_CLAIMINTERFACE:
            return claim(client, *Buffer(argument, sizeof(unsigned)).as<unsigned>());
        case USBDEVFS_RELEASEINTERFACE: {
            Binding& binding = drivers_.at(*Buffer(argument, sizeof(unsigned)).as<unsigned>());
            if (binding.client != client) {
                return -EINVAL;
            }
            binding = {};
            return 0;
        }
        case USBDEVFS_GETDRIVER: {
            const Buffer buffer(argument, sizeof(usbdevfs_getdriver));
            auto* request = buffer.as<usbdevfs_getdriver>();
            const std::string name = drivers_.at(request->interface).name;
            std::snprintf(request->driver, sizeof request->driver, "%s", name.c_str());
            return name.empty() ? -ENODATA : 0;
        }
        case USBDEVFS_IOCTL: {
            const Buffer command(argument, sizeof(usbdevfs_ioctl));
            return driverRequest(
                static_cast<unsigned>(command.as<usbdevfs_ioctl>()->ifno),
                static_cast<unsigned long>(command.as<usbdevfs_ioctl>()->ioctl_code));
        }
        case USBDEVFS_SUBMITURB:
            return submit(client, argument);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            if (completed_.empty()) {
                return -EAGAIN;
            }
            const Urb urb = completed_.front();
            completed_.pop_front();
            reinterpret_cast<usbdevfs_urb*>(urb.data->data)->status = urb.status;
            reinterpret_cast<usbdevfs_urb*>(urb.data->data)->actual_length = urb.actualLength;
            // The reap's argument holds the URB until the caller has it back.
            umockdev_ioctl_data_set_ptr(Buffer(argument, sizeof(void*)).get(), 0, urb.data);
            g_object_unref(urb.data);
            return 0;
        }
        case USBDEVFS_DISCARDURB: {
            const auto urb = std::ranges::find_if(inFlight_, [&](const Urb& candidate) {
                return candidate.data->client_addr ==
                       *reinterpret_cast<const gulong*>(argument->data);
            });
            if (urb == inFlight_.end()) {
                return -EINVAL;
            }
            completed_.push_back({urb->data, -ECONNRESET}); // what usb_unlink_urb leaves
            inFlight_.erase(urb);
            return 0;
        }
        }
        return -ENOTTY;
    }

    long claim(UMockdevIoctlClient* client, unsigned number) {
        Binding& binding = drivers_.at(number);
        if (!binding.name.empty()) {
            return binding.client == client ? 0 : -EBUSY;
        }
        binding = {"usbfs", client};
        return 0;
    }

    // USBDEVFS_IOCTL, a request for the driver of one interface; usbfs itself acts on two.
    // DISCONNECT unbinds whatever driver holds the interface, CONNECT lets the kernel probe it
    // again and answers 1 when a driver took it.
    long driverRequest(unsigned number, unsigned long code) {
        Binding& binding = drivers_.at(number);
        const bool bound = !binding.name.empty();
        if (code == USBDEVFS_DISCONNECT && !layout_.refuseDetach) {
            binding = {layout_.heldByOtherProgram ? "usbfs" : ""};
            return bound ? 0 : -ENODATA;
        }
        if (code == USBDEVFS_CONNECT && !bound && layout_.interfaces[number].interfaceClass == 7) {
            binding = {layout_.kernelDriver};
            return layout_.kernelDriver.empty() ? 0 : 1;
        }
        return code == USBDEVFS_CONNECT ? 0 : -EACCES;
    }

    long submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        Buffer header(argument, sizeof(usbdevfs_urb));
        const auto* fields = header.as<usbdevfs_urb>();
        const Buffer data(header.get(), static_cast<std::size_t>(fields->buffer_length),
                          offsetof(usbdevfs_urb, buffer));
        if (fields->type == USBDEVFS_URB_TYPE_CONTROL && fields->endpoint == 0) {
            completed_.push_back(controlTransfer(header.take(), data));
            return 0;
        }
        // Only bulk OUT endpoints take data. Using an interface without claiming it makes the
        // kernel claim it on the caller's behalf.
        const auto interface =
            std::ranges::find_if(layout_.interfaces, [&](const InterfaceLayout& candidate) {
                return std::ranges::count(candidate.endpoints, fields->endpoint,
                                          &EndpointLayout::address) != 0;
            });
        if (fields->type != USBDEVFS_URB_TYPE_BULK || (fields->endpoint & 0x80) != 0 ||
            interface == layout_.interfaces.end()) {
            return -ENOENT;
        }
        const auto number = static_cast<unsigned>(interface - layout_.interfaces.begin());
        if (const long claimed = claim(client, number); claimed != 0) {
            return claimed;
        }
        urbSizes_.push_back(data.size());
        Urb urb{header.take()};
        if (layout_.hangAtUrb != 0 && urbSizes_.size() >= layout_.hangAtUrb) {
            inFlight_.push_back(urb);
            return 0;
        }
        if (urbSizes_.size() == layout_.stallAtUrb) {
            urb.status = -EPIPE;
        } else if (urbSizes_.size() == layout_.unplugAtUrb) {
            // The host controller flushes the endpoint of a vanished device.
            urb.status = -ESHUTDOWN;
            drivers_.assign(drivers_.size(), {});
        } else {
            urb.actualLength = static_cast<int>(std::min(data.size(), layout_.acceptAtMost));
            received_.insert(received_.end(), data.as<std::uint8_t>(),
                             data.as<std::uint8_t>() + urb.actualLength);
        }
        completed_.push_back(urb);
        return 0;
    }

    Urb controlTransfer(UMockdevIoctlData* header, const Buffer& buffer) {
        // Only GET_DESCRIPTOR of a string is answered: libusb reads every other descriptor from
        // sysfs. String 0 lists the languages (US English), the others are UTF-16LE text; the
        // tests use ASCII names, which widen byte by byte.
        const std::uint8_t* setup = buffer.as<std::uint8_t>();
        const unsigned index = setup[2];
        const std::string text = index == 2 ? layout_.product : index == 3 ? layout_.serial : "";
        if (setup[0] != 0x80 || setup[1] != 6 || setup[3] != 3 || (index != 0 && text.empty())) {
            return {header, -EPIPE};
        }
        Bytes reply{4, 3, 0x09, 0x04};
        if (index != 0) {
            reply = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
            for (char c : text) {
                put16(reply, static_cast<std::uint8_t>(c));
            }
        }
        const std::size_t count =
            std::min({reply.size(), std::size_t(setup[6] | setup[7] << 8), buffer.size() - 8});
        std::copy_n(reply.begin(), count, buffer.as<std::uint8_t>() + 8);
        return {header, 0, static_cast<int>(count)};
    }

    DeviceLayout layout_;
    std::uint8_t address_;
    mutable std::mutex mutex_;
    std::vector<Binding> drivers_;
    UMockdevIoctlBase* handler_;
    std::vector<Urb> inFlight_;
    std::deque<Urb> completed_;
    std::vector<std::size_t> urbSizes_;
    Bytes received_;
};

} // namespace

// umockdev's own check answers only once a testbed exists.
bool inMockEnvironment() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

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
}

std::string UsbTestbed::rootDirectory() const {
    const std::unique_ptr<gchar, decltype(&g_free)> root(umockdev_testbed_get_root_dir(testbed_),
                                                         &g_free);
    return root.get();
}

void UsbTestbed::add(const std::string& record) {
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), nullptr)) {
        throw std::runtime_error("umockdev rejected the device:\n" + record);
    }
}

EmulatedDevice& UsbTestbed::addDevice(const DeviceLayout& layout) {
    const std::uint8_t address = ++lastAddress_.try_emplace(layout.bus, 1).first->second;
    auto device = std::make_unique<Device>(layout, address);
    const std::string node = device->node();
    // The handler goes first: libusb may open the node as soon as the device exists.
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), device->handler(), nullptr)) {
        throw std::runtime_error("cannot attach the usbdevfs handler to " + node);
    }
    std::string record = "P: " + device->path() + "\nN: " + node.substr(5) +
                         "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + node +
                         format("\nA: busnum=%u\\n\nA: devnum=%u\\n", layout.bus, address) +
                         format("\nA: idVendor=%04x\\n", layout.vendorId) +
                         format("\nA: idProduct=%04x\\n", layout.productId) +
                         "\nA: bConfigurationValue=1\\n\n";
    // The kernel creates these attributes only for strings the device has.
    if (layout.stringsInSysfs && !layout.product.empty()) {
        record += "A: product=" + layout.product + "\\n\n";
    }
    if (layout.stringsInSysfs && !layout.serial.empty()) {
        record += "A: serial=" + layout.serial + "\\n\n";
    }
    record += "H: descriptors=";
    for (std::uint8_t byte : device->descriptors()) {
        record += format("%02x", byte);
    }
    for (unsigned i = 0; i < layout.interfaces.size(); ++i) {
        record +=
            "\n\nP: " + device->interfacePath(i) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface";
    }
    add(record + "\n");
    // A bound kernel driver shows as the interface's "driver" link.
    const std::unique_ptr<gchar, decltype(&g_free)> sys(umockdev_testbed_get_sys_dir(testbed_),
                                                        &g_free);
    for (unsigned i = 0; i < layout.interfaces.size(); ++i) {
        const std::string driver = device->driver(i);
        if (!driver.empty() && driver != "usbfs" &&
            ::symlink(("../../../../../../bus/usb/drivers/" + driver).c_str(),
                      (sys.get() + device->interfacePath(i) + "/driver").c_str()) != 0) {
            throw std::runtime_error("cannot link the driver of " + device->interfacePath(i));
        }
    }
    return *devices_.emplace_back(std::move(device));
}

void UsbTestbed::addTty(const EmulatedDevice* usb, const std::string& name) {
    const std::string parent = usb ? usb->interfacePath(0) : "/devices/platform/serial8250";
    add("P: " + parent + "/tty/" + name + "\nN: " + name + "\nE: DEVNAME=/dev/" + name +
        "\nE: SUBSYSTEM=tty\n");
}

} // namespace usb_testing
