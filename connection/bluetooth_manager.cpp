#include "connection/bluetooth_manager.hpp"

#include "connection/console.hpp"

namespace connection {

void BluetoothManager::sendData(const protocol::Bytes& /*bytes*/,
                                const ResponseCallback& /*response*/) {
    if (!hasConnectedDevice()) {
        consoleLine("Printer not connected");
    }
}

} // namespace connection
