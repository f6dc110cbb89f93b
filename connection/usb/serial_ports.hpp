#pragma once

#include "connection/usb/usb_serial_port.hpp"

#include <QString>
#include <vector>

namespace connection {

// A USB serial port the listing found but could not open: it is not offered, and the user is
// told why.
struct UnavailablePort {
    QString path;
    int error = 0;  // errno of the open probe
    QString advice; // what to do about it, may be empty
};

struct SerialListing {
    std::vector<USBSerialPort> ports;
    std::vector<UnavailablePort> unavailable;
};

// tty devices whose parent is a USB device (ttyUSB*, ttyACM*), found in sysfs through libudev,
// each kept only if it can be opened. Vendor, product and serial come from the USB device.
// `heldPath` is the line this program has open: it is listed without the open probe, which its
// exclusive hold would fail.
SerialListing listSerialPorts(const QString& heldPath = {});

// The rule for callout nodes on macOS builds: "/dev/cu." followed by a name that shows a USB
// serial adapter.
bool isMacUsbSerialCallout(const QString& path);

} // namespace connection
