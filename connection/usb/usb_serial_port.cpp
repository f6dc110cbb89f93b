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

std::optional<USBSerialPort::Kind> kindFromRaw(const QString& raw) {
    for (auto kind : {USBSerialPort::Kind::printerClass, USBSerialPort::Kind::serialCDC}) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

} // namespace connection
