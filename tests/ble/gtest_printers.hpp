#pragma once

#include "connection/ble/ble_central.hpp"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

// Readable GoogleTest messages for the Qt and Bluetooth LE types the tests compare.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << bytes.toHex(' ').toUpper().toStdString();
}

inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '[' << list.join(", ").toStdString() << ']';
}

namespace connection {

inline void PrintTo(RadioState state, std::ostream* out) {
    *out << "RadioState " << static_cast<int>(state);
}

inline void PrintTo(const BlePeripheral& peripheral, std::ostream* out) {
    *out << peripheral.identifier.toStdString() << " \"" << peripheral.name.toStdString() << '"';
}

inline void PrintTo(const BleCharacteristic& characteristic, std::ostream* out) {
    *out << characteristic.serviceUuid.toStdString() << '/' << characteristic.uuid.toStdString()
         << " properties " << int(characteristic.properties);
}

} // namespace connection
