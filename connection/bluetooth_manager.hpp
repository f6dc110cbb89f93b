#pragma once

#include "connection/manager_alert.hpp"
#include "protocol/bytes.hpp"

#include <functional>

namespace connection {

// The Bluetooth LE transport. Until the radio side lands this manager never has a printer, and
// sending behaves as it does with none connected.
class BluetoothManager : public ManagerAlert {
    Q_OBJECT

public:
    using ResponseCallback = std::function<void(const protocol::Bytes&)>;

    using ManagerAlert::ManagerAlert;

    // The link is up exactly while a printer is connected.
    bool hasConnectedDevice() const { return false; }

    // Without a printer: the console line "Printer not connected", no alert.
    void sendData(const protocol::Bytes& bytes, const ResponseCallback& response = {});
};

} // namespace connection
