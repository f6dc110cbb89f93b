#include "connection/transports.hpp"

namespace connection {

Transports::Transports(std::unique_ptr<BleCentral> central, UsbRoutes usbRoutes)
    : bluetooth_(std::make_unique<BluetoothManager>(nullptr, std::move(central))),
      network_(std::make_unique<NetworkManager>()),
      usb_(std::make_unique<USBSerialManager>(nullptr, std::move(usbRoutes))) {
    byType_[static_cast<std::size_t>(ConnectionType::network)] = network_.get();
    byType_[static_cast<std::size_t>(ConnectionType::bluetooth)] = bluetooth_.get();
    byType_[static_cast<std::size_t>(ConnectionType::usb)] = usb_.get();
}

Transports::~Transports() = default;

Transport& Transports::operator[](ConnectionType type) const {
    return *byType_[static_cast<std::size_t>(type)];
}

void sendOverConnection(ConnectionType type, const Transports& transports,
                        const protocol::Bytes& bytes, bool reportSuccess,
                        DeliveryHandler onReport) {
    transports[type].sendData(bytes, std::move(onReport), reportSuccess);
}

} // namespace connection
