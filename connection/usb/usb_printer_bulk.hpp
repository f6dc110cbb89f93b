#pragma once

#include "protocol/bytes.hpp"

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

// USB printer-class interfaces (interface class 7) reached directly through libusb: their listing,
// and delivery of bytes to the first bulk OUT endpoint.
namespace connection {

class USBPrinterBulkDevice {
public:
    USBPrinterBulkDevice(QString deviceId, QString name, std::uint16_t vendorId,
                         std::uint16_t productId, QString serial);

    const QString& deviceId() const { return deviceId_; }
    const QString& displayName() const { return displayName_; }
    std::uint16_t vendorId() const { return vendorId_; }
    std::uint16_t productId() const { return productId_; }
    const QString& serial() const { return serial_; }

    friend bool operator==(const USBPrinterBulkDevice&, const USBPrinterBulkDevice&) = default;

private:
    QString deviceId_;
    QString displayName_;
    std::uint16_t vendorId_;
    std::uint16_t productId_;
    QString serial_;
};

// The name a printer-class interface is shown under.
QString printerDisplayName(std::uint16_t vendorId, std::uint16_t productId,
                           const QString& productName, const QString& serial);

// The location identifier of a device: bus number in the top byte, then one port number per
// nibble from the root, as the original platform packs it. None when the path is empty or too
// deep to pack (more than six ports).
std::optional<std::uint32_t> usbLocationId(std::uint8_t busNumber,
                                           const std::vector<std::uint8_t>& portPath);

// The interface's device id: the location in decimal, else "vvvv:pppp" in lower-case hex.
QString printerDeviceId(std::optional<std::uint32_t> locationId, std::uint16_t vendorId,
                        std::uint16_t productId);

// The location packed into a "bulk:" port's device id, when the id is one.
std::optional<std::uint32_t> locationOfDeviceId(const QString& deviceId);

// Which printer-class interface a send is for.
struct PrinterMatch {
    std::optional<QString> serial; // equal to or contained in the device's serial
    std::uint16_t vendorId = 0;    // 0: any
    std::uint16_t productId = 0;   // 0: any
    // Where the printer was listed (bus and port path). Tried first, so that of two identical
    // printers without serial numbers the one chosen gets the bytes; when nothing matches there
    // any longer, a printer with the wanted serial elsewhere (replugged) still does.
    std::optional<std::uint32_t> locationId;
};

struct BulkLimits {
    // A printer that takes nothing for this long fails the write.
    std::chrono::milliseconds noProgress{15'000};
    std::stop_token stop; // the manager is going away
    // Told how many bytes the printer has taken, each time that grows.
    std::function<void(std::size_t taken)> progress = {};
};

// How a delivery to a printer ended: nothing on success, else the text to show; and how many
// bytes reached the printer either way.
struct SendResult {
    std::optional<QString> error;
    std::size_t bytesSent = 0;
    friend bool operator==(const SendResult&, const SendResult&) = default;
};

namespace USBPrinterBulk {

inline constexpr std::uint8_t kPrinterInterfaceClass = 7;
inline constexpr std::size_t kWriteChunk = 512;

// Every printer-class interface on the bus, in bus order; empty when libusb cannot start.
std::vector<USBPrinterBulkDevice> listPrinterClassDevices();

// Writes `bytes` to the first matching printer-class interface (vendor and product, then the
// serial when one is given) in 512-byte transfers to its first bulk OUT endpoint.
SendResult sendData(const protocol::Bytes& bytes, const PrinterMatch& match,
                    const BulkLimits& limits = {});

} // namespace USBPrinterBulk

} // namespace connection
