#include "connection/usb_serial_manager.hpp"

namespace connection {

void USBSerialManager::sendData(const protocol::Bytes& /*bytes*/, bool /*reportSuccess*/) {
    if (!isConnected()) {
        showError(QStringLiteral("USB printer not connected"));
    }
}

} // namespace connection
