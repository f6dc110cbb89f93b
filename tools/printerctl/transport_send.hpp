#pragma once

#include "tools/printerctl/command_line.hpp"

namespace printerctl {

// Connects over the request's transport through the same managers and routing the window uses,
// sends the planned commands with their spacing, waits until the bytes are delivered, and
// disconnects. Returns the exit status: 0 done, 1 transport or send failure, 2 invalid target.
//   --tcp HOST[:PORT]  port 9100 by default
//   --serial PATH      any terminal device, opened as a USB serial line
//   --usb PORT-ID      a port id as `printerctl list usb` shows it
//   --ble ADDRESS      a printer's Bluetooth address; a scan must see it first
int sendRequest(const SendRequest& request);

// `printerctl list usb`: the USB ports as the window would list them, one per line.
int listUsbPorts();

// `printerctl list ble`: the printers a scan of `seconds` sees: address, name, RSSI.
int listBlePrinters(int seconds);

} // namespace printerctl
