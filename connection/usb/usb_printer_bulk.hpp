#pragma once

#include "protocol/bytes.hpp"

#include <QString>
#include <cstdint>
#include <optional>
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

namespace USBPrinterBulk {

inline constexpr std::uint8_t kPrinterInterfaceClass = 7;
inline constexpr std::size_t kWriteChunk = 512;

// Every printer-class interface on the bus, in bus order; empty when libusb cannot start.
std::vector<USBPrinterBulkDevice> listPrinterClassDevices();

// Writes `bytes` to the first matching printer-class interface. Matching: vendor and product
// (0 = any), and a serial that equals or contains `serial` when one is given. Returns nothing on
// success, otherwise the text to show the user.
std::optional<QString> sendData(const protocol::Bytes& bytes, const std::optional<QString>& serial,
                                std::uint16_t vendorId, std::uint16_t productId);

} // namespace USBPrinterBulk

} // namespace connection
