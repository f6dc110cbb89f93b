#pragma once

#include "connection/connection_type.hpp"
#include "protocol/bytes.hpp"

namespace connection {

class NetworkManager;
class BluetoothManager;
class USBSerialManager;

// The one way a command leaves: hands the bytes to the manager of `type`, and to no other.
// The manager decides whether it can send and reports problems itself. `reportSuccess` is true
// only for the communication test (the USB manager then confirms a good send).
void sendOverConnection(ConnectionType type, NetworkManager& network, BluetoothManager& bluetooth,
                        USBSerialManager& usb, const protocol::Bytes& bytes, bool reportSuccess);

// Whether the link of `type` is up.
bool isCurrentConnected(ConnectionType type, const NetworkManager& network,
                        const BluetoothManager& bluetooth, const USBSerialManager& usb);

} // namespace connection
