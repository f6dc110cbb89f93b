#include "connection/bluetooth_manager.hpp"

#include "connection/console.hpp"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

namespace connection {
namespace {

void console(const QString& line) {
    consoleLine(line.toStdString());
}

// ["FF00", "180A"]
QString listNotation(const QStringList& items) {
    QStringList quoted;
    for (const QString& item : items) {
        quoted.append(QLatin1Char('"') + item + QLatin1Char('"'));
    }
    return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString hexBytes(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex().toUpper());
}

QByteArray toByteArray(const protocol::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

} // namespace

BluetoothManager::BluetoothManager(QObject* parent, std::unique_ptr<BleCentral> central)
    : ManagerAlert(parent), central_(std::move(central)) {
    central_->setDelegate(this);
}

BluetoothManager::~BluetoothManager() {
    central_->setDelegate(nullptr);
}

void BluetoothManager::raise(const QString& message) {
    setAlertMessage(message);
    setShowAlert(true);
}

// --- radio state ----------------------------------------------------------------------------

void BluetoothManager::centralDidUpdateState(RadioState state) {
    QMetaObject::invokeMethod(
        this, [this, state] { reportState(state); }, Qt::QueuedConnection);
}

void BluetoothManager::reportState(RadioState state) {
    switch (state) {
    case RadioState::poweredOn:
        console(QStringLiteral("Bluetooth is enabled"));
        startScan();
        break;
    case RadioState::unsupported:
        raise(QStringLiteral("This device does not support Bluetooth"));
        break;
    case RadioState::unauthorized:
        raise(QStringLiteral("Please authorize Bluetooth access in Settings"));
        break;
    case RadioState::poweredOff:
        raise(QStringLiteral("Please turn on Bluetooth"));
        break;
    default:
        raise(QStringLiteral("Bluetooth is unavailable: ") +
              QString::number(static_cast<int>(state)));
        break;
    }
    emit radioStateReported(state);
}

// --- scanning -------------------------------------------------------------------------------

void BluetoothManager::startScan() {
    if (central_->state() != RadioState::poweredOn) {
        raise(QStringLiteral("Please turn on Bluetooth"));
        return;
    }
    central_->stopScan();
    if (!discoveredDevices_.empty()) {
        discoveredDevices_.clear();
        emit discoveredDevicesChanged();
    }
    if (!deviceRSSI_.isEmpty()) {
        deviceRSSI_.clear();
        emit deviceRSSIChanged();
    }
    console(QStringLiteral("Start scanning for Bluetooth devices..."));
    const quint64 scan = ++scanGeneration_;
    QMetaObject::invokeMethod(
        this,
        [this, scan] {
            central_->scanForPeripherals();
            QTimer::singleShot(timings_.scanDuration, this, [this, scan] {
                // An end left over from an earlier scan must not cut a newer one short.
                if (scan != scanGeneration_) {
                    return;
                }
                central_->stopScan();
                console(QStringLiteral("Scanning finished"));
            });
        },
        Qt::QueuedConnection);
}

void BluetoothManager::didDiscover(const BleAdvertisement& advertisement) {
    QMetaObject::invokeMethod(
        this, [this, advertisement] { handleDiscovery(advertisement); }, Qt::QueuedConnection);
}

void BluetoothManager::handleDiscovery(const BleAdvertisement& advertisement) {
    if (!advertisement.manufacturerData || advertisement.manufacturerData->size() < 2) {
        return;
    }
    const QByteArray& data = *advertisement.manufacturerData;
    const auto id = static_cast<std::uint16_t>(static_cast<std::uint8_t>(data[0]) |
                                               (static_cast<std::uint8_t>(data[1]) << 8));
    console(QStringLiteral("Manufacturer ID: ") + QString::asprintf("0x%04X", id));
    if (id != kPrinterManufacturerId) {
        return;
    }
    const BlePeripheral& peripheral = advertisement.peripheral;
    console(QStringLiteral("\nPrinter device found:"));
    console(QStringLiteral("- Name: ") + peripheral.displayName());
    console(QStringLiteral("- RSSI: ") + QString::number(advertisement.rssi) +
            QStringLiteral(" dBm"));
    console(QStringLiteral("- Manufacturer Data: ") + hexBytes(data));

    const bool known = std::ranges::any_of(discoveredDevices_, [&](const BlePeripheral& device) {
        return device.identifier == peripheral.identifier;
    });
    if (!known) {
        discoveredDevices_.push_back(peripheral);
        emit discoveredDevicesChanged();
    }
    if (const auto it = deviceRSSI_.constFind(peripheral.identifier);
        it == deviceRSSI_.cend() || *it != advertisement.rssi) {
        deviceRSSI_.insert(peripheral.identifier, advertisement.rssi);
        emit deviceRSSIChanged();
    }
}

// --- link -----------------------------------------------------------------------------------

void BluetoothManager::connect(const BlePeripheral& peripheral) {
    console(QStringLiteral("Attempting to connect to device: ") + peripheral.displayName());
    central_->stopScan();
    console(QStringLiteral("Scanning stopped"));
    const quint64 attempt = ++connectAttempt_;
    QMetaObject::invokeMethod(
        this,
        [this, peripheral] {
            if (connectedDevice_) {
                central_->cancelPeripheralConnection(*connectedDevice_);
            }
            central_->connectPeripheral(peripheral);
        },
        Qt::QueuedConnection);
    QTimer::singleShot(timings_.connectTimeout, this, [this, peripheral, attempt] {
        // A newer connect has its own time-out; this one must not cancel it.
        if (attempt != connectAttempt_ || connectedDevice_) {
            return;
        }
        console(QStringLiteral("Connection timeout"));
        central_->cancelPeripheralConnection(peripheral);
    });
}

void BluetoothManager::didConnect(const BlePeripheral& peripheral) {
    console(QStringLiteral("Device connected, discovering services..."));
    connectedDevice_ = peripheral;
    emit connectedDeviceChanged();
    central_->discoverServices(peripheral);
}

void BluetoothManager::didFailToConnect(const BlePeripheral& /*peripheral*/,
                                        const std::optional<QString>& error) {
    const QString text =
        QStringLiteral("Connection failed: ") + error.value_or(QStringLiteral("Unknown error"));
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            console(text);
            raise(text);
        },
        Qt::QueuedConnection);
}

void BluetoothManager::didDisconnect(const BlePeripheral& peripheral,
                                     const std::optional<QString>& error) {
    QMetaObject::invokeMethod(
        this,
        [this, peripheral, error] {
            if (error) {
                raise(QStringLiteral("Device disconnected: ") + *error);
            }
            // The end of a link replaced by a newer one must not take the newer one down.
            if (connectedDevice_ && connectedDevice_->identifier != peripheral.identifier) {
                return;
            }
            // Confirmations of writes on a link that is gone never come: the writer starts
            // afresh on the next link instead of waiting for them forever.
            pendingWriteChunks_.clear();
            isWritingChunks_ = false;
            outstandingWrites_ = 0;
            if (connectedDevice_) {
                connectedDevice_.reset();
                emit connectedDeviceChanged();
            }
        },
        Qt::QueuedConnection);
}

void BluetoothManager::disconnect() {
    if (!connectedDevice_) {
        return;
    }
    console(QStringLiteral("Disconnecting device: ") + connectedDevice_->displayName());
    central_->cancelPeripheralConnection(*connectedDevice_);
    writeCharacteristic_.reset();
    QTimer::singleShot(timings_.rescanDelay, this, [this] { startScan(); });
}

// --- GATT discovery -------------------------------------------------------------------------

void BluetoothManager::didDiscoverServices(const BlePeripheral& peripheral,
                                           const QStringList& serviceUuids,
                                           const std::optional<QString>& error) {
    if (error) {
        console(QStringLiteral("Failed to discover services: ") + *error);
        return;
    }
    console(QStringLiteral("Services discovered: ") + listNotation(serviceUuids));
    for (const QString& service : serviceUuids) {
        console(QStringLiteral("Looking for characteristics in service ") + service);
        central_->discoverCharacteristics(peripheral, service);
    }
}

void BluetoothManager::didDiscoverCharacteristics(
    const BlePeripheral& peripheral, const QString& serviceUuid,
    const std::vector<BleCharacteristic>& characteristics, const std::optional<QString>& error) {
    if (error) {
        console(QStringLiteral("Failed to discover characteristics: ") + *error);
        return;
    }
    QStringList uuids;
    for (const BleCharacteristic& characteristic : characteristics) {
        uuids.append(characteristic.uuid);
    }
    console(QStringLiteral("Characteristics for service ") + serviceUuid + QStringLiteral(": ") +
            listNotation(uuids));
    for (const BleCharacteristic& characteristic : characteristics) {
        console(QStringLiteral("Properties for characteristic ") + characteristic.uuid +
                QStringLiteral(": ") + blePropertiesText(characteristic.properties));
        if ((characteristic.properties &
             (bleProperty::write | bleProperty::writeWithoutResponse)) == 0) {
            continue;
        }
        console(QStringLiteral("Found writable characteristic: ") + characteristic.uuid);
        writeCharacteristic_ = characteristic;
        if ((characteristic.properties & bleProperty::notify) != 0) {
            console(QStringLiteral("Subscribing to characteristic notifications"));
            central_->setNotifyValue(peripheral, characteristic, true);
        }
        emit writeCharacteristicReady();
        break;
    }
}

void BluetoothManager::didUpdateNotificationState(const BlePeripheral& /*peripheral*/,
                                                  const BleCharacteristic& /*characteristic*/,
                                                  const std::optional<QString>& error) {
    if (error) {
        console(QStringLiteral("Notification state update failed: ") + *error);
    }
}

void BluetoothManager::didUpdateValue(const BlePeripheral& /*peripheral*/,
                                      const BleCharacteristic& /*characteristic*/,
                                      const QByteArray& value) {
    if (value.isEmpty()) {
        return;
    }
    if (ResponseCallback callback = std::exchange(responseCallback_, {})) {
        callback(protocol::Bytes(value.begin(), value.end()));
    }
}

// --- writing --------------------------------------------------------------------------------

void BluetoothManager::sendData(const protocol::Bytes& bytes, const ResponseCallback& response) {
    responseCallback_ = response;
    if (!writeCharacteristic_ || !connectedDevice_) {
        console(QStringLiteral("Printer not connected"));
        return;
    }
    const int maximum = central_->maximumWriteValueLength(*connectedDevice_);
    const auto chunk =
        static_cast<std::size_t>(std::min(std::max(maximum, kMinimumChunk), MTU_SIZE));
    if (bytes.size() <= chunk) {
        if (isWritingChunks_ || !pendingWriteChunks_.empty()) {
            // Written now it would land in the middle of the longer command still going out.
            pendingWriteChunks_.push_back(bytes);
            writeNextChunk();
            return;
        }
        write(bytes);
        return;
    }
    for (std::size_t offset = 0; offset < bytes.size(); offset += chunk) {
        const auto end = std::min(offset + chunk, bytes.size());
        pendingWriteChunks_.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(end));
    }
    writeNextChunk();
}

void BluetoothManager::writeNextChunk() {
    if (isWritingChunks_ || !writeCharacteristic_ || !connectedDevice_ ||
        pendingWriteChunks_.empty()) {
        return;
    }
    isWritingChunks_ = true;
    const protocol::Bytes head = std::move(pendingWriteChunks_.front());
    pendingWriteChunks_.pop_front();
    write(head);
}

void BluetoothManager::write(const protocol::Bytes& bytes) {
    ++outstandingWrites_;
    central_->writeValue(*connectedDevice_, *writeCharacteristic_, toByteArray(bytes));
}

void BluetoothManager::didWriteValue(const BlePeripheral& /*peripheral*/,
                                     const BleCharacteristic& /*characteristic*/,
                                     const std::optional<QString>& error) {
    outstandingWrites_ = std::max(outstandingWrites_ - 1, 0);
    if (error) {
        console(QStringLiteral("Write failed: ") + *error);
        pendingWriteChunks_.clear();
        isWritingChunks_ = false;
        if (ResponseCallback callback = std::exchange(responseCallback_, {})) {
            callback({});
        }
        emit writeFailed(*error);
        return;
    }
    isWritingChunks_ = false;
    if (!pendingWriteChunks_.empty()) {
        writeNextChunk();
    } else if (outstandingWrites_ == 0) {
        emit allWritesConfirmed();
    }
}

} // namespace connection
