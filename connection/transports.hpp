#pragma once

#include "connection/bluetooth_manager.hpp"
#include "connection/connection_type.hpp"
#include "connection/network_manager.hpp"
#include "connection/usb_serial_manager.hpp"

#include <array>
#include <functional>
#include <memory>

namespace connection {

// The three transports of one window (or one printerctl target), each made when first used and
// owned here, and the one routing rule: a connection type names exactly one of them.
class Transports {
public:
    using CentralFactory = std::function<std::unique_ptr<BleCentral>()>;

    explicit Transports(CentralFactory central = makeSystemBleCentral,
                        UsbRoutes usbRoutes = UsbRoutes::system());
    ~Transports();
    Transports(const Transports&) = delete;
    Transports& operator=(const Transports&) = delete;

    NetworkManager& network();
    BluetoothManager& bluetooth();
    USBSerialManager& usb();

    Transport& operator[](ConnectionType type);

private:
    CentralFactory central_;
    UsbRoutes usbRoutes_;
    std::unique_ptr<BluetoothManager> bluetooth_;
    std::unique_ptr<NetworkManager> network_;
    std::unique_ptr<USBSerialManager> usb_;
};

// The one way a command leaves: hands the bytes to the transport of `type`, and to no other.
void sendOverConnection(ConnectionType type, Transports& transports, const protocol::Bytes& bytes,
                        bool reportSuccess, DeliveryHandler onReport = {});

} // namespace connection
