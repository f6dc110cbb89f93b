#include "connection/usb/serial_ports.hpp"

#include "connection/usb/device_access.hpp"
#include "connection/usb/serial_line.hpp"

#include <libudev.h>
#include <memory>

namespace connection {
namespace {

struct UdevDeleter {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

QString attribute(udev_device* device, const char* name) {
    const char* value = udev_device_get_sysattr_value(device, name);
    return value != nullptr ? QString::fromUtf8(value).trimmed() : QString();
}

std::uint16_t hexAttribute(udev_device* device, const char* name) {
    bool ok = false;
    const uint value = attribute(device, name).toUInt(&ok, 16);
    return ok && value <= 0xFFFF ? static_cast<std::uint16_t>(value) : 0;
}

} // namespace

SerialListing listSerialPorts(const QString& heldPath) {
    SerialListing listing;
    UdevPtr<udev> context(udev_new());
    if (!context) {
        return listing;
    }
    UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return listing;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevPtr<udev_device> tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!tty) {
            continue;
        }
        // The parent is owned by the child; it is not released separately.
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
        const char* node = udev_device_get_devnode(tty.get());
        if (usb == nullptr || node == nullptr) {
            continue;
        }
        const QString path = QString::fromUtf8(node);
        if (const int error = path == heldPath ? 0 : serial::probe(path); error != 0) {
            listing.unavailable.push_back(
                {path, error, access::serialOpenAdvice(error, access::factsFor(path))});
            continue;
        }
        listing.ports.push_back(
            USBSerialPort{path,
                          QStringLiteral("USB Serial (%1)")
                              .arg(QString::fromUtf8(udev_device_get_sysname(tty.get()))),
                          USBSerialPort::Kind::serialCDC, hexAttribute(usb, "idVendor"),
                          hexAttribute(usb, "idProduct"), attribute(usb, "serial")});
    }
    return listing;
}

bool isMacUsbSerialCallout(const QString& path) {
    static const char* const fragments[] = {"usbserial", "usbmodem", "wchusbserial", "slab_usb",
                                            "cp210",     "ft232",    "ch34",         "pl2303"};
    if (!path.startsWith(QLatin1String("/dev/cu."))) {
        return false;
    }
    const QString name = path.section(QLatin1Char('/'), -1).toLower();
    for (const char* fragment : fragments) {
        if (name.contains(QLatin1String(fragment))) {
            return true;
        }
    }
    return false;
}

} // namespace connection
