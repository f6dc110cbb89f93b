#pragma once

#include "connection/usb/usb_printer_bulk.hpp"
#include "connection/usb/usb_serial_port.hpp"
#include "protocol/bytes.hpp"

#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
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

// Both programs give up at once (the child is killed) when `stop` is requested.
std::vector<USBSerialPort> listLpinfoPrinters(const CupsPrograms& programs = {},
                                              std::stop_token stop = {});
std::optional<QString> findCupsDeviceUri(const QString& serial, const CupsPrograms& programs = {},
                                         std::stop_token stop = {});

// Runs the backend on a private temporary file holding `bytes`. Nothing on success, else a text
// for the user. A backend this user may not run is not started: the text says why.
std::optional<QString> sendViaCupsBackend(const QString& deviceUri, const protocol::Bytes& bytes,
                                          const CupsPrograms& programs = {},
                                          std::stop_token stop = {});

// Delivers bytes straight to a printer-class interface (`USBPrinterBulk::sendData`'s shape).
using BulkWriter = std::function<SendResult(const protocol::Bytes& bytes, const PrinterMatch& match,
                                            const BulkLimits& limits)>;

// The bulk writer first; the backend only when the bulk route failed before any byte reached
// the printer (a second copy after a partial one would corrupt the command).
SendResult sendToPrinterClass(const USBSerialPort& port, const protocol::Bytes& bytes,
                              const CupsPrograms& programs = {}, const BulkLimits& limits = {},
                              const BulkWriter& bulkWriter = {});

} // namespace connection
