#include "connection/bluetooth_manager.hpp"

#include "connection/console.hpp"

#include <QMetaObject>
#include <QPointer>
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
    : Transport(parent), central_(std::move(central)) {
    central_->setDelegate(this);
}

void BluetoothManager::later(std::chrono::milliseconds delay, std::function<void()> work) {
    // The timer holds the manager weakly: work due after it is gone does nothing.
    QPointer<BluetoothManager> self(this);
    const auto guarded = [self, work = std::move(work)] {
        if (self) {
            work();
        }
    };
    if (scheduler_) {
        scheduler_(delay, guarded);
    } else {
        QTimer::singleShot(delay, this, guarded);
    }
}

BluetoothManager::~BluetoothManager() {
    central_->setDelegate(nullptr);
    failOutstanding(QStringLiteral("Printer not connected"));
}

// Every report of the central is handled as it arrives: the central already delivers them on the
// main thread after the call that caused them has returned, so handling them in arrival order
// keeps a late report of an old link from overtaking a newer one.

// --- radio state ----------------------------------------------------------------------------

namespace {

QString problemOf(RadioState state) {
    switch (state) {
    case RadioState::poweredOn:
        return {};
    case RadioState::unsupported:
        return QStringLiteral("This device does not support Bluetooth");
    case RadioState::unauthorized:
        return QStringLiteral("Please authorize Bluetooth access in Settings");
    case RadioState::poweredOff:
        return QStringLiteral("Please turn on Bluetooth");
    default:
        return QStringLiteral("Bluetooth is unavailable: ") +
               QString::number(static_cast<int>(state));
    }
}

} // namespace

QString BluetoothManager::radioProblem() const {
    return reportedState_ ? problemOf(*reportedState_) : QString();
}

void BluetoothManager::centralDidUpdateState(RadioState state) {
    reportedState_ = state;
    if (state == RadioState::poweredOn) {
        console(QStringLiteral("Bluetooth is enabled"));
        startScan();
        if (!awaitedAddress_.isEmpty()) {
            armAwaitLimit();
        }
    } else {
        raiseNow(problemOf(state));
        if (!awaitedAddress_.isEmpty()) {
            awaitedAddress_.clear();
            endConnect(false, problemOf(state));
        }
    }
    emit radioStateReported(state);
}

// --- scanning -------------------------------------------------------------------------------

void BluetoothManager::startScan() {
    // Asked first, even when the answer waits for the first report: a deferred central is made
    // by the question, and its first report follows.
    const RadioState state = central_->state();
    if (!reportedState_) {
        return;
    }
    if (state != RadioState::poweredOn) {
        raiseNow(QStringLiteral("Please turn on Bluetooth"));
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
            later(timings_.scanDuration, [this, scan] {
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
    connectAwaited();
}

// --- link -----------------------------------------------------------------------------------

void BluetoothManager::connectTo(const Target& target) {
    disconnect();
    beginConnect();
    awaitedAddress_ = target.address.toUpper();
    awaitLimitArmed_ = false;
    ++awaitGeneration_;
    if (const QString problem = radioProblem(); !problem.isEmpty()) {
        raiseNow(problem);
        failConnect(problem);
        return;
    }
    connectAwaited();
    if (awaitedAddress_.isEmpty()) {
        return; // already seen: connecting
    }
    if (reportedState_) {
        armAwaitLimit();
    }
    // Before the radio's first report the scan starts with that report.
    startScan();
}

void BluetoothManager::armAwaitLimit() {
    if (awaitLimitArmed_) {
        return;
    }
    awaitLimitArmed_ = true;
    const quint64 wait = awaitGeneration_;
    later(timings_.scanDuration, [this, wait] {
        if (wait != awaitGeneration_ || awaitedAddress_.isEmpty()) {
            return;
        }
        const auto ms = timings_.scanDuration.count();
        const QString text =
            QStringLiteral("No printer %1 was seen by a %2 scan")
                .arg(awaitedAddress_, ms % 1000 == 0 ? QStringLiteral("%1 s").arg(ms / 1000)
                                                     : QStringLiteral("%1 ms").arg(ms));
        raiseNow(text);
        failConnect(text);
    });
}

void BluetoothManager::connectAwaited() {
    if (awaitedAddress_.isEmpty()) {
        return;
    }
    for (const BlePeripheral& device : discoveredDevices_) {
        if (device.identifier.toUpper() == awaitedAddress_) {
            awaitedAddress_.clear();
            ++awaitGeneration_;
            startConnect(device);
            return;
        }
    }
}

void BluetoothManager::failConnect(const QString& text) {
    awaitedAddress_.clear();
    ++awaitGeneration_;
    endConnect(false, text);
}

void BluetoothManager::connect(const BlePeripheral& peripheral) {
    beginConnect();
    awaitedAddress_.clear();
    ++awaitGeneration_;
    startConnect(peripheral);
}

void BluetoothManager::startConnect(const BlePeripheral& peripheral) {
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
    later(timings_.connectTimeout, [this, peripheral, attempt] {
        // A newer connect has its own time-out; this one must not cancel it.
        if (attempt != connectAttempt_ || connectedDevice_) {
            return;
        }
        console(QStringLiteral("Connection timeout"));
        central_->cancelPeripheralConnection(peripheral);
        endConnect(false, QStringLiteral("Connection timeout"));
    });
    later(timings_.readyTimeout, [this, peripheral, attempt] {
        if (attempt != connectAttempt_ || !connectOpen()) {
            return;
        }
        const QString text = QStringLiteral("Printer %1 offered no writable characteristic")
                                 .arg(peripheral.identifier);
        console(text);
        raiseNow(text);
        central_->cancelPeripheralConnection(peripheral);
        endConnect(false, text);
    });
}

void BluetoothManager::setConnectedDevice(std::optional<BlePeripheral> device) {
    // A characteristic belongs to one link: a send between a new link and its discovery must
    // not be written to the old link's characteristic.
    writeCharacteristic_.reset();
    const bool upChanged = connectedDevice_.has_value() != device.has_value();
    connectedDevice_ = std::move(device);
    emit connectedDeviceChanged();
    if (upChanged) {
        emit linkUpChanged();
    }
}

void BluetoothManager::didConnect(const BlePeripheral& peripheral) {
    console(QStringLiteral("Device connected, discovering services..."));
    // Writes still waiting belong to the link this one replaces.
    failOutstanding(QStringLiteral("Write failed: the printer disconnected"));
    setConnectedDevice(peripheral);
    central_->discoverServices(peripheral);
}

void BluetoothManager::didFailToConnect(const BlePeripheral& /*peripheral*/,
                                        const std::optional<QString>& error) {
    const QString text =
        QStringLiteral("Connection failed: ") + error.value_or(QStringLiteral("Unknown error"));
    console(text);
    raiseNow(text);
    endConnect(false, text);
}

void BluetoothManager::didDisconnect(const BlePeripheral& peripheral,
                                     const std::optional<QString>& error) {
    if (error) {
        raiseNow(QStringLiteral("Device disconnected: ") + *error);
    }
    // The end of a link replaced by a newer one must not take the newer one down.
    if (connectedDevice_ && connectedDevice_->identifier != peripheral.identifier) {
        return;
    }
    endConnect(false, QStringLiteral("Device disconnected: ") +
                          error.value_or(QStringLiteral("before it was ready")));
    // Confirmations of writes on a link that is gone never come: the writer starts afresh on
    // the next link instead of waiting for them forever.
    failOutstanding(QStringLiteral("Write failed: the printer disconnected"));
    if (connectedDevice_) {
        setConnectedDevice(std::nullopt);
    } else {
        writeCharacteristic_.reset();
    }
}

void BluetoothManager::disconnect() {
    if (!awaitedAddress_.isEmpty()) {
        awaitedAddress_.clear();
        ++awaitGeneration_;
    }
    endConnect(false, QStringLiteral("Connection cancelled"));
    if (!connectedDevice_) {
        return;
    }
    console(QStringLiteral("Disconnecting device: ") + connectedDevice_->displayName());
    central_->cancelPeripheralConnection(*connectedDevice_);
    writeCharacteristic_.reset();
    later(timings_.rescanDelay, [this] { startScan(); });
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
        endConnect(true);
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
                                      const QByteArray& /*value*/) {
    // Printers of this kind answer nothing a command waits for; notifications are ignored.
}

// --- writing --------------------------------------------------------------------------------

void BluetoothManager::sendData(const protocol::Bytes& bytes, DeliveryHandler onReport,
                                bool /*reportSuccess*/, ProgressHandler onProgress) {
    const auto total = static_cast<qint64>(bytes.size());
    if (!writeCharacteristic_ || !connectedDevice_) {
        console(QStringLiteral("Printer not connected"));
        if (onReport) {
            QMetaObject::invokeMethod(
                this,
                [onReport = std::move(onReport), total] {
                    onReport(
                        DeliveryReport::failure(QStringLiteral("Printer not connected"), 0, total));
                },
                Qt::QueuedConnection);
        }
        return;
    }
    const int maximum = central_->maximumWriteValueLength(*connectedDevice_);
    const auto chunk =
        static_cast<std::size_t>(std::min(std::max(maximum, kMinimumChunk), MTU_SIZE));
    auto send = std::make_shared<OutgoingSend>();
    send->total = total;
    send->onReport = std::move(onReport);
    send->onProgress = std::move(onProgress);
    // A command that fits one chunk is one write (an empty one included). Behind a command still
    // going out it waits its turn rather than landing in the middle of it.
    std::size_t offset = 0;
    do {
        const auto end = std::min(offset + chunk, bytes.size());
        pendingWriteChunks_.push_back(
            {protocol::Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                             bytes.begin() + static_cast<std::ptrdiff_t>(end)),
             send});
        ++send->chunksLeft;
        offset = end;
    } while (offset < bytes.size());
    writeNextChunk();
}

void BluetoothManager::writeNextChunk() {
    if (chunkInFlight_ || !writeCharacteristic_ || !connectedDevice_ ||
        pendingWriteChunks_.empty()) {
        return;
    }
    chunkInFlight_ = std::move(pendingWriteChunks_.front());
    pendingWriteChunks_.pop_front();
    central_->writeValue(*connectedDevice_, *writeCharacteristic_,
                         toByteArray(chunkInFlight_->bytes));
    // A confirmation that never comes fails the send, and the link with it: a confirmation
    // arriving later would be taken for the next chunk's.
    const quint64 write = ++writeCount_;
    later(noProgressLimit(), [this, write] {
        if (write != writeCount_ || !chunkInFlight_) {
            return;
        }
        const QString text = QStringLiteral("Write failed: ") + noProgressText(noProgressLimit());
        console(text);
        failOutstanding(text, true);
        raiseNow(text);
        disconnect();
    });
}

void BluetoothManager::didWriteValue(const BlePeripheral& /*peripheral*/,
                                     const BleCharacteristic& /*characteristic*/,
                                     const std::optional<QString>& error) {
    if (!chunkInFlight_) {
        return; // a confirmation from a link whose writes were already given up
    }
    if (error) {
        console(QStringLiteral("Write failed: ") + *error);
        // The rest of that payload, and what waits behind it, is dropped.
        failOutstanding(QStringLiteral("Write failed: ") + *error);
        return;
    }
    const Chunk done = std::move(*chunkInFlight_);
    chunkInFlight_.reset();
    done.send->confirmed += static_cast<qint64>(done.bytes.size());
    if (--done.send->chunksLeft == 0) {
        if (done.send->onReport) {
            done.send->onReport(DeliveryReport::success(done.send->total));
        }
    } else if (done.send->onProgress) {
        done.send->onProgress(done.send->confirmed, done.send->total);
    }
    writeNextChunk();
}

void BluetoothManager::failOutstanding(const QString& error, bool counted) {
    std::vector<std::shared_ptr<OutgoingSend>> failed;
    const auto collect = [&failed](const Chunk& chunk) {
        if (failed.empty() || failed.back() != chunk.send) {
            failed.push_back(chunk.send);
        }
    };
    if (chunkInFlight_) {
        collect(*chunkInFlight_);
    }
    for (const Chunk& chunk : pendingWriteChunks_) {
        collect(chunk);
    }
    chunkInFlight_.reset();
    pendingWriteChunks_.clear();
    for (const auto& send : failed) {
        if (send->onReport) {
            send->onReport(DeliveryReport::failure(
                counted ? error + bytesOfText(send->confirmed, send->total) : error,
                send->confirmed, send->total));
        }
    }
}

} // namespace connection
