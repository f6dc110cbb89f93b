#include "connection/send_over_connection.hpp"

#include "connection/bluetooth_manager.hpp"
#include "connection/network_manager.hpp"
#include "connection/usb_serial_manager.hpp"

namespace connection {

void sendOverConnection(ConnectionType type, NetworkManager& network, BluetoothManager& bluetooth,
                        USBSerialManager& usb, const protocol::Bytes& bytes, bool reportSuccess) {
    switch (type) {
    case ConnectionType::network:
        network.sendData(bytes);
        break;
    case ConnectionType::bluetooth:
        bluetooth.sendData(bytes);
        break;
    case ConnectionType::usb:
        usb.sendData(bytes, reportSuccess);
        break;
    }
}

bool isCurrentConnected(ConnectionType type, const NetworkManager& network,
                        const BluetoothManager& bluetooth, const USBSerialManager& usb) {
    switch (type) {
    case ConnectionType::network:
        return network.isConnected();
    case ConnectionType::bluetooth:
        return bluetooth.hasConnectedDevice();
    case ConnectionType::usb:
        return usb.isConnected();
    }
    return false;
}

} // namespace connection
