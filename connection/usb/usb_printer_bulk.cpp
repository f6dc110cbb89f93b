#include "connection/usb/usb_printer_bulk.hpp"

#include "connection/transport.hpp"
#include "connection/usb/device_access.hpp"
#include "connection/usb/usb_serial_port.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <libusb.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace connection {

USBPrinterBulkDevice::USBPrinterBulkDevice(QString deviceId, QString name, std::uint16_t vendorId,
                                           std::uint16_t productId, QString serial)
    : deviceId_(std::move(deviceId)), displayName_(std::move(name)), vendorId_(vendorId),
      productId_(productId), serial_(std::move(serial)) {}

QString printerDisplayName(std::uint16_t vendorId, std::uint16_t productId,
                           const QString& productName, const QString& serial) {
    QString name;
    if (vendorId == model::kVendorId && productId == model::kProductId) {
        name = QLatin1String(model::kDisplayName);
    } else if (std::any_of(productName.begin(), productName.end(),
                           [](QChar c) { return c.isLetterOrNumber(); })) {
        name = QStringLiteral("USB Printer (%1)").arg(productName);
    } else {
        name = QString::asprintf("USB Printer (%04X:%04X)", vendorId, productId);
    }
    if (serial.size() >= 4) {
        name += QStringLiteral(" \u00B7 \u2026") + serial.right(4);
    }
    return name;
}

std::optional<std::uint32_t> usbLocationId(std::uint8_t busNumber,
                                           const std::vector<std::uint8_t>& portPath) {
    // One nibble per port below the bus byte leaves room for six tiers, and a nibble holds no
    // port above 15.
    if (portPath.empty() || portPath.size() > 6) {
        return std::nullopt;
    }
    std::uint32_t location = std::uint32_t{busNumber} << 24;
    int shift = 20;
    for (std::uint8_t port : portPath) {
        if (port > 15) {
            return std::nullopt;
        }
        location |= std::uint32_t{port} << shift;
        shift -= 4;
    }
    return location;
}

QString printerDeviceId(std::optional<std::uint32_t> locationId, std::uint16_t vendorId,
                        std::uint16_t productId) {
    if (locationId) {
        return QString::number(*locationId);
    }
    return QString::asprintf("%04x:%04x", vendorId, productId);
}

std::optional<std::uint32_t> locationOfDeviceId(const QString& deviceId) {
    bool ok = false;
    const uint location = deviceId.toUInt(&ok, 10);
    return ok ? std::optional<std::uint32_t>(location) : std::nullopt;
}

namespace {

// Transfers wait in slices this long, so that a manager going away is noticed at once; a
// printer that stops taking data fails the write after `BulkLimits::noProgress`.
constexpr std::chrono::milliseconds kTransferSlice{250};

struct ContextDeleter {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
using Context = std::unique_ptr<libusb_context, ContextDeleter>;

struct ConfigDeleter {
    void operator()(libusb_config_descriptor* config) const {
        libusb_free_config_descriptor(config);
    }
};
using Config = std::unique_ptr<libusb_config_descriptor, ConfigDeleter>;

struct HandleDeleter {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using Handle = std::unique_ptr<libusb_device_handle, HandleDeleter>;

class DeviceList {
public:
    explicit DeviceList(libusb_context* context)
        : count_(libusb_get_device_list(context, &list_)) {}
    ~DeviceList() {
        if (count_ >= 0) {
            libusb_free_device_list(list_, 1);
        }
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    bool failed() const { return count_ < 0; }
    libusb_device* const* begin() const { return list_; }
    libusb_device* const* end() const { return list_ + std::max<ssize_t>(count_, 0); }

private:
    libusb_device** list_ = nullptr;
    ssize_t count_;
};

Context openContext() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) {
        return nullptr;
    }
    return Context(context);
}

Config activeConfig(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    // A device the kernel has not configured has no active configuration; its first one still
    // tells what interfaces it offers.
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0) {
        return nullptr;
    }
    return Config(config);
}

const libusb_interface_descriptor* firstAltSetting(const libusb_interface& interface) {
    return interface.num_altsetting > 0 ? &interface.altsetting[0] : nullptr;
}

bool isPrinterInterface(const libusb_interface& interface) {
    const auto* setting = firstAltSetting(interface);
    return setting != nullptr && setting->bInterfaceClass == USBPrinterBulk::kPrinterInterfaceClass;
}

std::vector<std::uint8_t> portPath(libusb_device* device) {
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof ports);
    if (count <= 0) {
        return {};
    }
    return {ports, ports + count};
}

// The kernel's name for the device under /sys/bus/usb/devices: "1-2.4", or "usb1" for a root hub.
std::string sysfsDeviceName(libusb_device* device) {
    const auto bus = std::to_string(libusb_get_bus_number(device));
    const auto ports = portPath(device);
    if (ports.empty()) {
        return "usb" + bus;
    }
    std::string name = bus + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        name += (i == 0 ? "" : ".") + std::to_string(ports[i]);
    }
    return name;
}

std::optional<std::string> readSysfs(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[256];
    ssize_t got;
    do {
        got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
    } while (got > 0 || (got < 0 && errno == EINTR));
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// The strings the kernel read at enumeration sit in sysfs, readable without permission to open
// the device node. Only when sysfs has nothing is the device itself asked.
class DeviceStrings {
public:
    explicit DeviceStrings(libusb_device* device) : device_(device) {
        libusb_get_device_descriptor(device, &descriptor_);
    }

    const libusb_device_descriptor& descriptor() const { return descriptor_; }
    QString product() { return cached(product_, "product", descriptor_.iProduct); }
    QString serial() { return cached(serial_, "serial", descriptor_.iSerialNumber); }

private:
    QString cached(std::optional<QString>& slot, const char* attribute, std::uint8_t index) {
        if (!slot) {
            slot = read(attribute, index);
        }
        return *slot;
    }

    QString read(const char* attribute, std::uint8_t index) {
        const auto path = "/sys/bus/usb/devices/" + sysfsDeviceName(device_) + "/" + attribute;
        if (const auto text = readSysfs(path)) {
            return QString::fromStdString(*text);
        }
        if (index == 0) {
            return {};
        }
        if (!handle_ && !openFailed_) {
            libusb_device_handle* handle = nullptr;
            openFailed_ = libusb_open(device_, &handle) != 0;
            handle_.reset(handle);
        }
        if (!handle_) {
            return {};
        }
        unsigned char text[256];
        const int length =
            libusb_get_string_descriptor_ascii(handle_.get(), index, text, sizeof text);
        if (length <= 0) {
            return {};
        }
        return QString::fromLatin1(reinterpret_cast<const char*>(text), length);
    }

    libusb_device* device_;
    libusb_device_descriptor descriptor_{};
    std::optional<QString> product_, serial_;
    Handle handle_;
    bool openFailed_ = false;
};

QString hexStatus(int status) {
    return QString::asprintf("%08x", static_cast<std::uint32_t>(status));
}

QString deviceNodePath(libusb_device* device) {
    return QString::asprintf("/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                             libusb_get_device_address(device));
}

// libusb reports that a kernel driver is bound but not which one; sysfs links it.
QString kernelDriverName(libusb_device* device, int configValue, int interfaceNumber) {
    const auto link = "/sys/bus/usb/devices/" + sysfsDeviceName(device) + ":" +
                      std::to_string(configValue) + "." + std::to_string(interfaceNumber) +
                      "/driver";
    char target[512];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length > 0) {
        const std::string path(target, static_cast<std::size_t>(length));
        return QString::fromStdString(path.substr(path.find_last_of('/') + 1));
    }
    // The only driver in Linux that binds printer-class interfaces.
    return QStringLiteral("usblp");
}

struct PrinterInterface {
    libusb_device* device;
    int interfaceNumber;
};

bool serialMatches(const QString& deviceSerial, const std::optional<QString>& wanted) {
    if (!wanted || wanted->isEmpty()) {
        return true;
    }
    return !deviceSerial.isEmpty() && deviceSerial.contains(*wanted);
}

std::optional<PrinterInterface> printerInterfaceOf(libusb_device* device, DeviceStrings& strings,
                                                   const PrinterMatch& match) {
    const auto& descriptor = strings.descriptor();
    if ((match.vendorId != 0 && descriptor.idVendor != match.vendorId) ||
        (match.productId != 0 && descriptor.idProduct != match.productId)) {
        return std::nullopt;
    }
    const Config config = activeConfig(device);
    if (!config) {
        return std::nullopt;
    }
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        if (!isPrinterInterface(config->interface[i])) {
            continue;
        }
        // Every interface of a device shares its serial; one read decides for all of them.
        if (!serialMatches(strings.serial(), match.serial)) {
            return std::nullopt;
        }
        return PrinterInterface{device, config->interface[i].altsetting[0].bInterfaceNumber};
    }
    return std::nullopt;
}

std::optional<PrinterInterface> findPrinter(const DeviceList& devices, const PrinterMatch& match) {
    if (match.locationId) {
        for (libusb_device* device : devices) {
            if (usbLocationId(libusb_get_bus_number(device), portPath(device)) !=
                match.locationId) {
                continue;
            }
            DeviceStrings strings(device);
            if (auto found = printerInterfaceOf(device, strings, match)) {
                return found;
            }
        }
        // Without a serial nothing tells the printer apart from an identical one elsewhere.
        if (!match.serial || match.serial->isEmpty()) {
            return std::nullopt;
        }
    }
    for (libusb_device* device : devices) {
        DeviceStrings strings(device);
        if (auto found = printerInterfaceOf(device, strings, match)) {
            return found;
        }
    }
    return std::nullopt;
}

// Releases the claimed interface, then hands a detached kernel driver its interface back, as
// the printer was before we came.
class ClaimedInterface {
public:
    ClaimedInterface(libusb_device_handle* handle, int number) : handle_(handle), number_(number) {}
    ~ClaimedInterface() {
        if (claimed_) {
            libusb_release_interface(handle_, number_);
        }
        if (detached_) {
            libusb_attach_kernel_driver(handle_, number_);
        }
    }
    ClaimedInterface(const ClaimedInterface&) = delete;
    ClaimedInterface& operator=(const ClaimedInterface&) = delete;

    // Nothing on success, else the busy text with what the user can do about it.
    std::optional<QString> claim(libusb_device* device, int configValue) {
        int status = libusb_claim_interface(handle_, number_);
        QString advice;
        if (status != 0) {
            const int driverActive = libusb_kernel_driver_active(handle_, number_);
            if (driverActive == 1) {
                const QString driver = kernelDriverName(device, configValue, number_);
                const int detach = libusb_detach_kernel_driver(handle_, number_);
                if (detach == 0) {
                    detached_ = true;
                    status = libusb_claim_interface(handle_, number_);
                    if (status == LIBUSB_ERROR_BUSY) {
                        advice = access::usbHeldByProgramAdvice();
                    }
                } else {
                    status = detach;
                    advice = access::usbHeldByDriverAdvice(driver);
                }
            } else if (driverActive == 0 && status == LIBUSB_ERROR_BUSY) {
                // The kernel reports "usbfs" as the driver: a program claimed it through libusb.
                advice = access::usbHeldByProgramAdvice();
            }
        }
        if (status != 0) {
            QString text = QStringLiteral("USB interface busy (0x%1). Close other print apps and "
                                          "retry.")
                               .arg(hexStatus(status));
            if (!advice.isEmpty()) {
                text += QLatin1Char('\n') + advice;
            }
            return text;
        }
        claimed_ = true;
        return std::nullopt;
    }

private:
    libusb_device_handle* handle_;
    int number_;
    bool claimed_ = false;
    bool detached_ = false;
};

std::optional<std::uint8_t> bulkOutEndpoint(const libusb_interface_descriptor& setting) {
    for (int i = 0; i < setting.bNumEndpoints; ++i) {
        const auto& endpoint = setting.endpoint[i];
        const bool out =
            (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_OUT;
        const bool bulk =
            (endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK;
        if (out && bulk) {
            return endpoint.bEndpointAddress;
        }
    }
    return std::nullopt;
}

SendResult writeChunks(libusb_device_handle* handle, std::uint8_t endpoint,
                       const protocol::Bytes& bytes, const BulkLimits& limits) {
    using Clock = std::chrono::steady_clock;
    std::size_t offset = 0;
    auto lastProgress = Clock::now();
    while (offset < bytes.size()) {
        const std::size_t chunkEnd = std::min(offset + USBPrinterBulk::kWriteChunk, bytes.size());
        while (offset < chunkEnd) {
            int transferred = 0;
            // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
            auto* data = const_cast<unsigned char*>(bytes.data() + offset);
            int status =
                libusb_bulk_transfer(handle, endpoint, data, static_cast<int>(chunkEnd - offset),
                                     &transferred, static_cast<unsigned>(kTransferSlice.count()));
            if (transferred > 0) {
                offset += static_cast<std::size_t>(transferred);
                lastProgress = Clock::now();
                if (limits.progress) {
                    limits.progress(offset);
                }
            }
            if (status == LIBUSB_ERROR_TIMEOUT && !limits.stop.stop_requested() &&
                Clock::now() - lastProgress < limits.noProgress) {
                continue;
            }
            // A transfer that moves nothing yet reports no error would be retried forever.
            if (status == 0 && transferred <= 0) {
                status = LIBUSB_ERROR_IO;
            }
            if (status == LIBUSB_ERROR_TIMEOUT && !limits.stop.stop_requested()) {
                return {QStringLiteral("USB write failed (0x%1): %2%3")
                            .arg(hexStatus(status), noProgressText(limits.noProgress),
                                 bytesOfText(static_cast<qint64>(offset),
                                             static_cast<qint64>(bytes.size()))),
                        offset};
            }
            if (status != 0) {
                return {QStringLiteral("USB write failed (0x%1)").arg(hexStatus(status)), offset};
            }
        }
    }
    return {std::nullopt, offset};
}

} // namespace

namespace USBPrinterBulk {

std::vector<USBPrinterBulkDevice> listPrinterClassDevices() {
    // One pass: libusb sees every interface through one device list, so there is no older
    // registry to fall back on when this one finds nothing.
    std::vector<USBPrinterBulkDevice> printers;
    const Context context = openContext();
    if (!context) {
        return printers;
    }
    const DeviceList devices(context.get());
    for (libusb_device* device : devices) {
        const Config config = activeConfig(device);
        if (!config) {
            continue;
        }
        DeviceStrings strings(device);
        const auto& descriptor = strings.descriptor();
        const auto deviceId =
            printerDeviceId(usbLocationId(libusb_get_bus_number(device), portPath(device)),
                            descriptor.idVendor, descriptor.idProduct);
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            if (!isPrinterInterface(config->interface[i])) {
                continue;
            }
            const QString serial = strings.serial();
            printers.emplace_back(deviceId,
                                  printerDisplayName(descriptor.idVendor, descriptor.idProduct,
                                                     strings.product(), serial),
                                  descriptor.idVendor, descriptor.idProduct, serial);
        }
    }
    return printers;
}

SendResult sendData(const protocol::Bytes& bytes, const PrinterMatch& match,
                    const BulkLimits& limits) {
    if (bytes.empty()) {
        return {QStringLiteral("Empty data")};
    }
    const Context context = openContext();
    if (!context) {
        return {QStringLiteral("USB matching failed")};
    }
    const DeviceList devices(context.get());
    if (devices.failed()) {
        return {QStringLiteral("No USB printer interface")};
    }
    const auto printer = findPrinter(devices, match);
    if (!printer) {
        return {QStringLiteral("USB printer not found (unplugged?)")};
    }

    libusb_device_handle* rawHandle = nullptr;
    const int openStatus = libusb_open(printer->device, &rawHandle);
    if (openStatus != 0) {
        QString text = QStringLiteral("USB plugin open failed (0x%1)").arg(hexStatus(openStatus));
        if (openStatus == LIBUSB_ERROR_ACCESS) {
            text += QLatin1Char('\n') +
                    access::usbPermissionAdvice(access::factsFor(deviceNodePath(printer->device)));
        }
        return {text};
    }
    const Handle handle(rawHandle);

    const Config config = activeConfig(printer->device);
    const libusb_interface_descriptor* setting = nullptr;
    for (int i = 0; config && i < config->bNumInterfaces && !setting; ++i) {
        const auto* candidate = firstAltSetting(config->interface[i]);
        if (candidate && candidate->bInterfaceNumber == printer->interfaceNumber) {
            setting = candidate;
        }
    }
    if (!setting) {
        return {QStringLiteral("USB interface query failed")};
    }

    ClaimedInterface interface(handle.get(), printer->interfaceNumber);
    if (auto busy = interface.claim(printer->device, config->bConfigurationValue)) {
        return {busy};
    }
    const auto endpoint = bulkOutEndpoint(*setting);
    if (!endpoint) {
        return {QStringLiteral("No USB bulk OUT endpoint")};
    }
    return writeChunks(handle.get(), *endpoint, bytes, limits);
}

} // namespace USBPrinterBulk

} // namespace connection
