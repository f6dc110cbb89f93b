#pragma once

#include "connection/bluetooth_manager.hpp"
#include "connection/network_manager.hpp"
#include "connection/usb_serial_manager.hpp"

#include <QtQml/qqml.h>

// The transports' own types as QML sees them: typed properties of the window's model, read only.
namespace ui {

struct NetworkManagerForeign {
    Q_GADGET
    QML_FOREIGN(connection::NetworkManager)
    QML_ANONYMOUS
};

struct BluetoothManagerForeign {
    Q_GADGET
    QML_FOREIGN(connection::BluetoothManager)
    QML_ANONYMOUS
};

struct USBSerialManagerForeign {
    Q_GADGET
    QML_FOREIGN(connection::USBSerialManager)
    QML_ANONYMOUS
};

} // namespace ui
