#include "connection/usb/usb_serial_port.hpp"

namespace connection {

QString rawValue(USBSerialPort::Kind kind) {
    switch (kind) {
    case USBSerialPort::Kind::printerClass:
        return QStringLiteral("printerClass");
    case USBSerialPort::Kind::serialCDC:
        return QStringLiteral("serialCDC");
    }
    return {};
}

} // namespace connection
