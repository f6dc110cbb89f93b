#pragma once

#include "connection/connection_type.hpp"

#include <QString>
#include <string>
#include <string_view>
#include <variant>

namespace connection {

// One printer named on a command line: `tcp:HOST[:PORT]` (an IPv4 address; port 9100 by
// default), `serial:PATH` (any terminal device, opened as a USB serial line),
// `usb:PORT-ID` (as the USB list shows it) or `ble:ADDRESS`.
struct Target {
    enum class Kind { tcp, serial, usb, ble };
    Kind kind = Kind::tcp;
    QString address;  // host (dotted decimal, no leading zeros), device path, port id or
                      // Bluetooth address
    QString port;     // TCP only: the port number in decimal
    std::string text; // as written

    ConnectionType connectionType() const;
    // The printer it names, whatever the spelling: two targets with one identity are one
    // printer (127.000.000.001:09100 is 127.0.0.1:9100; a serial link is the device it leads
    // to; Bluetooth addresses ignore case).
    QString identity() const;
};

inline constexpr std::string_view kDefaultRawPort = "9100";

// The printer of `kind` at `address` (TCP: HOST[:PORT]), or why the address names none.
std::variant<Target, QString> makeTarget(Target::Kind kind, std::string_view address);

// The target, or why the text names none (the message names the text).
std::variant<Target, QString> parseTarget(std::string_view text);

} // namespace connection
