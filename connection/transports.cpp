#include "connection/transports.hpp"

namespace connection {

Transports::Transports(CentralFactory central, UsbRoutes usbRoutes)
    : central_(std::move(central)), usbRoutes_(std::move(usbRoutes)) {}

Transports::~Transports() = default;

NetworkManager& Transports::network() {
    if (!network_) {
        network_ = std::make_unique<NetworkManager>();
    }
    return *network_;
}

BluetoothManager& Transports::bluetooth() {
    if (!bluetooth_) {
        // Creating the manager starts the Bluetooth stack: its first state report starts a scan.
        bluetooth_ = std::make_unique<BluetoothManager>(nullptr, central_());
    }
    return *bluetooth_;
}

USBSerialManager& Transports::usb() {
    if (!usb_) {
        usb_ = std::make_unique<USBSerialManager>(nullptr, usbRoutes_);
    }
    return *usb_;
}

Transport& Transports::operator[](ConnectionType type) {
    switch (type) {
    case ConnectionType::network:
        return network();
    case ConnectionType::bluetooth:
        return bluetooth();
    case ConnectionType::usb:
        break;
    }
    return usb();
}

void sendOverConnection(ConnectionType type, Transports& transports, const protocol::Bytes& bytes,
                        bool reportSuccess, DeliveryHandler onReport) {
    transports[type].sendData(bytes, std::move(onReport), reportSuccess);
}

} // namespace connection
