#pragma once

#include "connection/bluetooth_manager.hpp"
#include "connection/usb_serial_manager.hpp"

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>

namespace ui {

// The USB manager's ports for the panel's menu: "id" and "name" of each.
class UsbPortList : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { idRole = Qt::UserRole + 1, nameRole };

    explicit UsbPortList(connection::USBSerialManager& usb, QObject* parent = nullptr);

    int count() const { return static_cast<int>(ports_.size()); }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void countChanged();

private:
    void reload();

    connection::USBSerialManager& usb_;
    std::vector<connection::USBSerialPort> ports_;
};

// The printers a Bluetooth scan found, in order of first sighting: "identifier", "name",
// "identifierLine" and "rssi". A new signal strength changes one row, not the list.
class BluetoothDeviceList : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { identifierRole = Qt::UserRole + 1, nameRole, identifierLineRole, rssiRole };

    explicit BluetoothDeviceList(connection::BluetoothManager& bluetooth,
                                 QObject* parent = nullptr);

    int count() const { return static_cast<int>(devices_.size()); }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // A device identifier as AA:BB:CC:DD:EE:FF, from its last twelve hex digits.
    static QString identifierLine(const QString& identifier);

signals:
    void countChanged();

private:
    void reload();
    void updateSignalStrengths();

    connection::BluetoothManager& bluetooth_;
    std::vector<connection::BlePeripheral> devices_;
    std::vector<int> rssi_;
};

} // namespace ui
