#pragma once

#include "connection/manager_alert.hpp"
#include "protocol/bytes.hpp"

namespace connection {

// The USB transport (serial line or printer-class interface). Until the device side lands no
// port is ever open, and sending behaves as it does with none open.
class USBSerialManager : public ManagerAlert {
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString connectionStatus READ connectionStatus NOTIFY connectionStatusChanged)

public:
    using ManagerAlert::ManagerAlert;

    bool isConnected() const { return false; }
    QString connectionStatus() const { return QStringLiteral("Not Connected"); }

    // Without an open port: the alert "USB printer not connected".
    void sendData(const protocol::Bytes& bytes, bool reportSuccess);

signals:
    void isConnectedChanged();
    void connectionStatusChanged();
};

} // namespace connection
