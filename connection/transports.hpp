#pragma once

#include "connection/bluetooth_manager.hpp"
#include "connection/connection_type.hpp"
#include "connection/network_manager.hpp"
#include "connection/usb_serial_manager.hpp"

#include <array>
#include <memory>

namespace connection {

// The three transports of one window (or one printerctl run), created together and owned here,
// and the one routing rule: a connection type names exactly one of them.
class Transports {
public:
    explicit Transports(std::unique_ptr<BleCentral> central = makeSystemBleCentral(),
                        UsbRoutes usbRoutes = UsbRoutes::system());
    ~Transports();
    Transports(const Transports&) = delete;
    Transports& operator=(const Transports&) = delete;

    NetworkManager& network() { return *network_; }
    BluetoothManager& bluetooth() { return *bluetooth_; }
    USBSerialManager& usb() { return *usb_; }

    Transport& operator[](ConnectionType type) const;

private:
    // The Bluetooth stack starts first: its first state report starts a scan.
    std::unique_ptr<BluetoothManager> bluetooth_;
    std::unique_ptr<NetworkManager> network_;
    std::unique_ptr<USBSerialManager> usb_;
    std::array<Transport*, kAllConnectionTypes.size()> byType_{};
};

// The one way a command leaves: hands the bytes to the transport of `type`, and to no other.
void sendOverConnection(ConnectionType type, const Transports& transports,
                        const protocol::Bytes& bytes, bool reportSuccess,
                        DeliveryHandler onReport = {});

} // namespace connection
