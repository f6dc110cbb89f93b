#pragma once

#include "connection/ble/ble_central.hpp"

#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QBluetoothLocalDevice>
#include <QDBusMessage>
#include <QHash>
#include <QLowEnergyController>
#include <QLowEnergyService>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <deque>
#include <functional>
#include <memory>

namespace connection {

// The GATT central on Qt Bluetooth, which on Linux talks to BlueZ over the system D-Bus.
//
// Qt reports some results from inside the call that caused them (devices BlueZ already knows,
// a failed connect, a whole service discovery), so every operation that reaches into Qt runs
// from the event loop, never inside the caller's call.
class QtBleCentral : public QObject, public BleCentral {
    Q_OBJECT

public:
    explicit QtBleCentral(QObject* parent = nullptr);
    ~QtBleCentral() override;

    void setDelegate(BleCentralDelegate* delegate) override { delegate_ = delegate; }
    RadioState state() const override { return state_; }

    void scanForPeripherals() override;
    void stopScan() override;

    void connectPeripheral(const BlePeripheral& peripheral) override;
    void cancelPeripheralConnection(const BlePeripheral& peripheral) override;

    void discoverServices(const BlePeripheral& peripheral) override;
    void discoverCharacteristics(const BlePeripheral& peripheral,
                                 const QString& serviceUuid) override;
    int maximumWriteValueLength(const BlePeripheral& peripheral) const override;
    void writeValue(const BlePeripheral& peripheral, const BleCharacteristic& characteristic,
                    const QByteArray& value) override;
    void setNotifyValue(const BlePeripheral& peripheral, const BleCharacteristic& characteristic,
                        bool enabled) override;

private slots:
    // ObjectManager signals of bluetoothd: an adapter may come or go.
    void onBluezInterfacesChanged(const QDBusMessage& message);

private:
    struct Link;

    void watchAdapters();
    void resetLocalDevice();
    RadioState currentState() const;
    void updateState();
    void post(std::function<void()> work);
    void report(const QBluetoothDeviceInfo& info);

    Link* linkFor(const QString& identifier) const;
    void startLink(const QString& identifier);
    void attachController(Link* link);
    void reportServices(Link* link);
    void searchForUnknownDevice(Link* link);
    void onConnectError(Link* link, const QString& error);
    void closeLink(Link* link, const std::optional<QString>& error);
    // The reports that end a link: its outstanding requests fail, then the disconnect.
    std::function<void()> endOfLink(Link* link, const std::optional<QString>& error);
    void dropLink(Link* link);
    void onServiceStateChanged(Link* link, const QString& serviceUuid,
                               QLowEnergyService::ServiceState state);
    void onServiceError(Link* link, const QString& serviceUuid,
                        QLowEnergyService::ServiceError error);

    BleCentralDelegate* delegate_ = nullptr;
    RadioState state_ = RadioState::unknown;
    std::unique_ptr<QBluetoothLocalDevice> localDevice_;
    QPointer<QBluetoothDeviceDiscoveryAgent> scanner_;
    quint64 scanGeneration_ = 0;
    // What the scans reported, so a connect can start from what BlueZ told us about a device.
    QHash<QString, QBluetoothDeviceInfo> seen_;
    QHash<QString, std::shared_ptr<Link>> links_;
};

} // namespace connection
