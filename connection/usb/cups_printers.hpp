#pragma once

#include "connection/usb/usb_serial_port.hpp"
#include "protocol/bytes.hpp"

#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

// The CUPS side of printer-class delivery: printers from `lpinfo -v`, and the `usb` backend as a
// second route when writing the interface directly fails.
namespace connection {

struct CupsPrograms {
    QString lpinfo = QStringLiteral("/usr/sbin/lpinfo");
    QString usbBackend = QStringLiteral("/usr/lib/cups/backend/usb");
    // The real backend waits for an absent printer forever; a run is stopped after this.
    std::chrono::milliseconds backendTimeLimit{30'000};
    // lpinfo asks cupsd, which can be slow or absent.
    std::chrono::milliseconds listingTimeLimit{15'000};
};

// The printers `lpinfo -v` reports on USB, parsed from its output, in output order.
std::vector<USBSerialPort> parseLpinfoOutput(const QString& output);

std::vector<USBSerialPort> listLpinfoPrinters(const CupsPrograms& programs = {});
std::optional<QString> findCupsDeviceUri(const QString& serial, const CupsPrograms& programs = {});

// Runs the backend on a private temporary file holding `bytes`. Nothing on success, else a text
// for the user.
std::optional<QString> sendViaCupsBackend(const QString& deviceUri, const protocol::Bytes& bytes,
                                          const CupsPrograms& programs = {});

// Delivers bytes straight to a printer-class interface (`USBPrinterBulk::sendData`'s shape).
using BulkWriter = std::function<std::optional<QString>(
    const protocol::Bytes& bytes, const std::optional<QString>& serial, std::uint16_t vendorId,
    std::uint16_t productId)>;

// The bulk writer first, then the backend; nothing on success, else the text to show.
std::optional<QString> sendToPrinterClass(const USBSerialPort& port, const protocol::Bytes& bytes,
                                          const CupsPrograms& programs = {},
                                          const BulkWriter& bulkWriter = {});

} // namespace connection
