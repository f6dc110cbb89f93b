#pragma once

#include <QHashFunctions>
#include <QString>
#include <cstdint>
#include <optional>

namespace connection {

// One USB printer as the port list shows it. Its identity is `id`: a serial device path, a CUPS
// device URI ("usb://…"), or "bulk:" followed by a printer-class interface's device id.
struct USBSerialPort {
    // Which route a send takes.
    enum class Kind { printerClass, serialCDC };

    QString id;
    QString name;
    Kind kind = Kind::serialCDC;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    QString serial;

    friend bool operator==(const USBSerialPort&, const USBSerialPort&) = default;
};

QString rawValue(USBSerialPort::Kind kind);

inline size_t qHash(const USBSerialPort& port, size_t seed = 0) {
    return qHashMulti(seed, port.id, port.name, static_cast<int>(port.kind), port.vendorId,
                      port.productId, port.serial);
}

// The printer model this tool was made for, recognised by both printer-class listings.
namespace model {
inline constexpr std::uint16_t kVendorId = 0x0FE6;
inline constexpr std::uint16_t kProductId = 0x811E;
inline constexpr const char* kVendorHex = "0fe6";
inline constexpr const char* kSerialFragment = "333039313838";
inline constexpr const char* kDisplayName = "QW-T50 USB Printer";
} // namespace model

} // namespace connection
