#include "connection/ble/qt_ble_central.hpp"

#include <QBluetoothAddress>
#include <QBluetoothUuid>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QLowEnergyCharacteristic>
#include <QLowEnergyDescriptor>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <utility>

namespace connection {
namespace {

// BlueZ turns a write with response that does not fit one ATT packet into a long write, so the
// limit is the attribute's own: 512 bytes, whatever the link's MTU.
constexpr int kAttributeMaximumLength = 512;
// The payload of a write request on the default 23-byte ATT MTU.
constexpr int kDefaultWritePayload = 20;

const QString kLinkLost = QStringLiteral("The connection to the device was lost");
const QString kNotConnected = QStringLiteral("The device is not connected");

QString uuidText(const QBluetoothUuid& uuid) {
    bool isShort = false;
    const quint16 shortForm = uuid.toUInt16(&isShort);
    if (isShort) {
        return QStringLiteral("%1").arg(shortForm, 4, 16, QLatin1Char('0')).toUpper();
    }
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

BleCharacteristic characteristicOf(const QString& serviceUuid,
                                   const QLowEnergyCharacteristic& characteristic) {
    // Qt numbers its property flags as the Bluetooth Core characteristic properties field does.
    return {serviceUuid, uuidText(characteristic.uuid()),
            static_cast<std::uint8_t>(characteristic.properties().toInt() & 0xFF)};
}

// BlueZ's Alias stands in for a missing name with the address, colons turned to dashes; that is
// not a name the device advertised.
QString advertisedName(const QBluetoothDeviceInfo& info) {
    QString name = info.name();
    if (name == info.address().toString().replace(QLatin1Char(':'), QLatin1Char('-'))) {
        name.clear();
    }
    return name;
}

QString serviceErrorText(QLowEnergyService::ServiceError error) {
    switch (error) {
    case QLowEnergyService::CharacteristicWriteError:
        return QStringLiteral("The device did not accept the write");
    case QLowEnergyService::DescriptorWriteError:
        return QStringLiteral("The device did not accept the descriptor write");
    case QLowEnergyService::OperationError:
        return QStringLiteral("The operation is not possible in the service's current state");
    default:
        return QStringLiteral("Unknown error");
    }
}

} // namespace

struct QtBleCentral::Link {
    BlePeripheral peripheral;
    // Every signal connection of this link has this context: deleting it detaches the link from
    // Qt at once, so nothing of a cancelled link reaches the delegate later.
    std::unique_ptr<QObject> guard = std::make_unique<QObject>();
    QPointer<QLowEnergyController> controller;
    // Looks for a device BlueZ does not know yet, so that it can be connected.
    QPointer<QBluetoothDeviceDiscoveryAgent> finder;
    bool searched = false;
    bool connected = false;
    bool cancelled = false;
    bool discoveringServices = false;
    std::optional<QString> lastError;
    QHash<QString, QLowEnergyService*> services;
    QSet<QString> servicesInDiscovery;
    // Qt runs GATT requests one at a time in the order they were made, so each confirmation or
    // failure belongs to the oldest outstanding request of its kind.
    std::deque<BleCharacteristic> pendingWrites;
    std::deque<BleCharacteristic> pendingNotifications;
    // Set while a request is being handed to Qt: Qt rejects a request from inside the call.
    bool issuingWrite = false;
    bool issuingNotification = false;
};

QtBleCentral::QtBleCentral(QObject* parent) : QObject(parent) {
    resetLocalDevice();
    state_ = currentState();
    watchAdapters();
    post([this] {
        if (delegate_) {
            delegate_->centralDidUpdateState(state_);
        }
    });
}

QtBleCentral::~QtBleCentral() {
    stopScan();
    const auto links = std::exchange(links_, {});
    for (const auto& link : links) {
        dropLink(link.get());
    }
}

void QtBleCentral::post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

// --- radio state ----------------------------------------------------------------------------

void QtBleCentral::watchAdapters() {
    QDBusConnection bus = QDBusConnection::systemBus();
    for (const char* member : {"InterfacesAdded", "InterfacesRemoved"}) {
        bus.connect(QStringLiteral("org.bluez"), QStringLiteral("/"),
                    QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                    QString::fromLatin1(member), this,
                    SLOT(onBluezInterfacesChanged(QDBusMessage)));
    }
}

void QtBleCentral::onBluezInterfacesChanged(const QDBusMessage& message) {
    static const QRegularExpression adapterPath(QStringLiteral("^/org/bluez/[^/]+$"));
    const QList<QVariant> arguments = message.arguments();
    if (arguments.isEmpty() ||
        !adapterPath.match(arguments.first().value<QDBusObjectPath>().path()).hasMatch()) {
        return;
    }
    // QBluetoothLocalDevice forgets a removed adapter without a signal and never picks up a
    // new one: a fresh instance looks again.
    resetLocalDevice();
    updateState();
}

void QtBleCentral::resetLocalDevice() {
    localDevice_ = std::make_unique<QBluetoothLocalDevice>();
    connect(localDevice_.get(), &QBluetoothLocalDevice::hostModeStateChanged, this,
            &QtBleCentral::updateState);
}

RadioState QtBleCentral::currentState() const {
    if (!localDevice_->isValid()) {
        return RadioState::unsupported;
    }
    return localDevice_->hostMode() == QBluetoothLocalDevice::HostPoweredOff
               ? RadioState::poweredOff
               : RadioState::poweredOn;
}

void QtBleCentral::updateState() {
    const RadioState state = currentState();
    if (state != std::exchange(state_, state) && delegate_) {
        delegate_->centralDidUpdateState(state);
    }
}

// --- scanning -------------------------------------------------------------------------------

void QtBleCentral::scanForPeripherals() {
    const quint64 scan = ++scanGeneration_;
    // Devices BlueZ already knows are reported from inside start().
    post([this, scan] {
        if (scan != scanGeneration_) {
            return;
        }
        delete scanner_;
        scanner_ = new QBluetoothDeviceDiscoveryAgent(this);
        scanner_->setLowEnergyDiscoveryTimeout(0);
        connect(scanner_, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this,
                &QtBleCentral::report);
        connect(scanner_, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
                [this](const QBluetoothDeviceInfo& info) { report(info); });
        scanner_->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
    });
}

void QtBleCentral::stopScan() {
    ++scanGeneration_;
    if (QBluetoothDeviceDiscoveryAgent* scanner = std::exchange(scanner_, nullptr)) {
        scanner->disconnect(this);
        scanner->stop();
        scanner->deleteLater();
    }
}

void QtBleCentral::report(const QBluetoothDeviceInfo& info) {
    const QString identifier = info.address().toString();
    seen_.insert(identifier, info);
    if (!delegate_) {
        return;
    }
    BleAdvertisement advertisement;
    advertisement.peripheral = {identifier, advertisedName(info)};
    const QList<quint16> companies = info.manufacturerIds();
    if (!companies.isEmpty()) {
        // An advertisement normally carries one manufacturer block; with several, the lowest
        // company id keeps the choice stable between reports.
        const quint16 company = *std::min_element(companies.begin(), companies.end());
        QByteArray raw;
        raw.append(static_cast<char>(company & 0xFF));
        raw.append(static_cast<char>(company >> 8));
        raw.append(info.manufacturerData(company));
        advertisement.manufacturerData = raw;
    }
    advertisement.rssi = info.rssi();
    delegate_->didDiscover(advertisement);
}

// --- link -----------------------------------------------------------------------------------

QtBleCentral::Link* QtBleCentral::linkFor(const QString& identifier) const {
    const auto it = links_.constFind(identifier);
    return it == links_.cend() ? nullptr : it->get();
}

void QtBleCentral::connectPeripheral(const BlePeripheral& peripheral) {
    if (Link* existing = linkFor(peripheral.identifier); existing && !existing->cancelled) {
        if (existing->connected) {
            post([this, peripheral] {
                if (delegate_) {
                    delegate_->didConnect(peripheral);
                }
            });
        }
        return;
    }
    // A link still closing after a cancel gives way to the new one; its end is reported now.
    if (const auto closing = links_.take(peripheral.identifier)) {
        post(endOfLink(closing.get(), std::nullopt));
        dropLink(closing.get());
    }
    auto link = std::make_shared<Link>();
    link->peripheral = peripheral;
    links_.insert(peripheral.identifier, link);
    post([this, identifier = peripheral.identifier, weak = std::weak_ptr<Link>(link)] {
        const auto current = weak.lock();
        if (current && linkFor(identifier) == current.get()) {
            startLink(identifier);
        }
    });
}

void QtBleCentral::startLink(const QString& identifier) {
    Link* link = linkFor(identifier);
    if (!link) {
        return;
    }
    QBluetoothDeviceInfo info = seen_.value(identifier);
    if (!info.isValid()) {
        // Never scanned here: BlueZ may know the device all the same (printerctl --ble).
        info = QBluetoothDeviceInfo(QBluetoothAddress(identifier), link->peripheral.name, 0);
        info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
    }
    link->controller = QLowEnergyController::createCentral(info, this);
    attachController(link);
    link->controller->connectToDevice();
}

void QtBleCentral::attachController(Link* link) {
    QLowEnergyController* controller = link->controller;
    QObject* guard = link->guard.get();
    connect(controller, &QLowEnergyController::connected, guard, [this, link] {
        link->connected = true;
        if (delegate_) {
            delegate_->didConnect(link->peripheral);
        }
    });
    connect(controller, &QLowEnergyController::disconnected, guard, [this, link] {
        closeLink(link, link->cancelled ? std::nullopt
                                        : std::optional(link->lastError.value_or(kLinkLost)));
    });
    connect(controller, &QLowEnergyController::errorOccurred, guard,
            [this, link, controller](QLowEnergyController::Error error) {
                if (!link->connected) {
                    if (error == QLowEnergyController::UnknownRemoteDeviceError &&
                        !link->searched) {
                        searchForUnknownDevice(link);
                    } else {
                        onConnectError(link, controller->errorString());
                    }
                    return;
                }
                link->lastError = controller->errorString();
                if (link->discoveringServices) {
                    link->discoveringServices = false;
                    if (delegate_) {
                        delegate_->didDiscoverServices(link->peripheral, {}, link->lastError);
                    }
                }
            });
    connect(controller, &QLowEnergyController::discoveryFinished, guard,
            [this, link] { reportServices(link); });
}

void QtBleCentral::reportServices(Link* link) {
    link->discoveringServices = false;
    QStringList uuids;
    for (const QBluetoothUuid& uuid : link->controller->services()) {
        uuids.append(uuidText(uuid));
    }
    if (delegate_) {
        delegate_->didDiscoverServices(link->peripheral, uuids, std::nullopt);
    }
}

// BlueZ connects only to a device object it has, and it makes one only for a device it has
// heard advertising: a device never scanned for is searched for first. The wait is as long as
// the caller lets it run, like any connect.
void QtBleCentral::searchForUnknownDevice(Link* link) {
    link->searched = true;
    QLowEnergyController* controller = std::exchange(link->controller, nullptr);
    QObject::disconnect(controller, nullptr, link->guard.get(), nullptr);
    controller->deleteLater();

    auto* finder = new QBluetoothDeviceDiscoveryAgent(this);
    link->finder = finder;
    finder->setLowEnergyDiscoveryTimeout(0);
    const QString identifier = link->peripheral.identifier;
    const auto found = [this, link, finder, identifier](const QBluetoothDeviceInfo& info) {
        if (info.address().toString() != identifier) {
            return;
        }
        seen_.insert(identifier, info);
        QObject::disconnect(finder, nullptr, link->guard.get(), nullptr);
        finder->stop();
        finder->deleteLater();
        // Not from inside the agent's own report.
        QMetaObject::invokeMethod(
            link->guard.get(), [this, identifier] { startLink(identifier); }, Qt::QueuedConnection);
    };
    connect(finder, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, link->guard.get(), found);
    connect(finder, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, link->guard.get(),
            [found](const QBluetoothDeviceInfo& info) { found(info); });
    connect(finder, &QBluetoothDeviceDiscoveryAgent::errorOccurred, link->guard.get(),
            [this, link, finder] { onConnectError(link, finder->errorString()); });
    finder->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
}

void QtBleCentral::onConnectError(Link* link, const QString& error) {
    const auto owned = links_.take(link->peripheral.identifier);
    const BlePeripheral peripheral = link->peripheral;
    dropLink(link);
    if (delegate_) {
        delegate_->didFailToConnect(peripheral, error);
    }
}

void QtBleCentral::closeLink(Link* link, const std::optional<QString>& error) {
    const auto owned = links_.take(link->peripheral.identifier);
    const auto report = endOfLink(link, error);
    dropLink(link);
    report();
}

std::function<void()> QtBleCentral::endOfLink(Link* link, const std::optional<QString>& error) {
    // Exactly one answer per request: what was outstanding on the link fails with it.
    return [this, peripheral = link->peripheral, error,
            writes = std::exchange(link->pendingWrites, {}),
            notifications = std::exchange(link->pendingNotifications, {})] {
        if (!delegate_) {
            return;
        }
        for (const BleCharacteristic& characteristic : writes) {
            delegate_->didWriteValue(peripheral, characteristic, kNotConnected);
        }
        for (const BleCharacteristic& characteristic : notifications) {
            delegate_->didUpdateNotificationState(peripheral, characteristic, kNotConnected);
        }
        delegate_->didDisconnect(peripheral, error);
    };
}

void QtBleCentral::dropLink(Link* link) {
    link->guard.reset();
    if (QBluetoothDeviceDiscoveryAgent* finder = link->finder) {
        finder->stop();
        finder->deleteLater();
    }
    QLowEnergyController* controller = link->controller;
    if (!controller) {
        return;
    }
    // Qt warns about a controller deleted while it still has a link; let it finish closing.
    if (controller->state() == QLowEnergyController::UnconnectedState) {
        controller->deleteLater();
        return;
    }
    connect(controller, &QLowEnergyController::stateChanged, controller,
            [controller](QLowEnergyController::ControllerState state) {
                if (state == QLowEnergyController::UnconnectedState) {
                    controller->deleteLater();
                }
            });
    if (controller->state() != QLowEnergyController::ClosingState) {
        controller->disconnectFromDevice();
    }
}

void QtBleCentral::cancelPeripheralConnection(const BlePeripheral& peripheral) {
    Link* link = linkFor(peripheral.identifier);
    if (!link || link->cancelled) {
        return;
    }
    if (!link->connected) {
        // Detached first: a late report of the abandoned attempt must not reach the delegate.
        const auto owned = links_.take(peripheral.identifier);
        dropLink(link);
        return;
    }
    link->cancelled = true;
    post([this, identifier = peripheral.identifier] {
        Link* current = linkFor(identifier);
        if (current && current->cancelled && current->controller) {
            current->controller->disconnectFromDevice();
        }
    });
}

// --- GATT -----------------------------------------------------------------------------------

void QtBleCentral::discoverServices(const BlePeripheral& peripheral) {
    post([this, peripheral] {
        Link* link = linkFor(peripheral.identifier);
        QLowEnergyController* controller = link ? link->controller.data() : nullptr;
        if (!controller || !link->connected) {
            if (delegate_) {
                delegate_->didDiscoverServices(peripheral, {}, kNotConnected);
            }
            return;
        }
        if (controller->state() == QLowEnergyController::DiscoveredState) {
            reportServices(link);
            return;
        }
        link->discoveringServices = true;
        controller->discoverServices();
    });
}

void QtBleCentral::discoverCharacteristics(const BlePeripheral& peripheral,
                                           const QString& serviceUuid) {
    post([this, peripheral, serviceUuid] {
        Link* link = linkFor(peripheral.identifier);
        QLowEnergyController* controller = link ? link->controller.data() : nullptr;
        const auto fail = [&](const QString& error) {
            if (delegate_) {
                delegate_->didDiscoverCharacteristics(peripheral, serviceUuid, {}, error);
            }
        };
        if (!controller || !link->connected) {
            fail(kNotConnected);
            return;
        }
        QLowEnergyService* service = link->services.value(serviceUuid);
        if (!service) {
            const QList<QBluetoothUuid> uuids = controller->services();
            const auto it = std::find_if(uuids.begin(), uuids.end(), [&](const auto& uuid) {
                return uuidText(uuid) == serviceUuid;
            });
            if (it == uuids.end() ||
                !(service = controller->createServiceObject(*it, controller))) {
                fail(QStringLiteral("The device has no service ") + serviceUuid);
                return;
            }
            link->services.insert(serviceUuid, service);
            QObject* guard = link->guard.get();
            connect(service, &QLowEnergyService::stateChanged, guard,
                    [this, link, serviceUuid](QLowEnergyService::ServiceState state) {
                        onServiceStateChanged(link, serviceUuid, state);
                    });
            connect(service, &QLowEnergyService::errorOccurred, guard,
                    [this, link, serviceUuid](QLowEnergyService::ServiceError error) {
                        onServiceError(link, serviceUuid, error);
                    });
            connect(service, &QLowEnergyService::characteristicWritten, guard, [this, link] {
                if (link->pendingWrites.empty()) {
                    return;
                }
                const BleCharacteristic written = link->pendingWrites.front();
                link->pendingWrites.pop_front();
                if (delegate_) {
                    delegate_->didWriteValue(link->peripheral, written, std::nullopt);
                }
            });
            connect(service, &QLowEnergyService::descriptorWritten, guard,
                    [this, link](const QLowEnergyDescriptor& descriptor) {
                        if (descriptor.uuid() !=
                                QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration ||
                            link->pendingNotifications.empty()) {
                            return;
                        }
                        const BleCharacteristic subscribed = link->pendingNotifications.front();
                        link->pendingNotifications.pop_front();
                        if (delegate_) {
                            delegate_->didUpdateNotificationState(link->peripheral, subscribed,
                                                                  std::nullopt);
                        }
                    });
            connect(service, &QLowEnergyService::characteristicChanged, guard,
                    [this, link, serviceUuid](const QLowEnergyCharacteristic& characteristic,
                                              const QByteArray& value) {
                        if (delegate_) {
                            delegate_->didUpdateValue(link->peripheral,
                                                      characteristicOf(serviceUuid, characteristic),
                                                      value);
                        }
                    });
        }
        switch (service->state()) {
        case QLowEnergyService::RemoteServiceDiscovered:
            onServiceStateChanged(link, serviceUuid, service->state());
            break;
        case QLowEnergyService::RemoteServiceDiscovering:
            break;
        default:
            link->servicesInDiscovery.insert(serviceUuid);
            // Values are not needed to choose a characteristic, and reading them costs a
            // round trip per attribute.
            service->discoverDetails(QLowEnergyService::SkipValueDiscovery);
            break;
        }
    });
}

void QtBleCentral::onServiceStateChanged(Link* link, const QString& serviceUuid,
                                         QLowEnergyService::ServiceState state) {
    if (state != QLowEnergyService::RemoteServiceDiscovered) {
        return;
    }
    link->servicesInDiscovery.remove(serviceUuid);
    std::vector<BleCharacteristic> characteristics;
    for (const QLowEnergyCharacteristic& characteristic :
         link->services.value(serviceUuid)->characteristics()) {
        characteristics.push_back(characteristicOf(serviceUuid, characteristic));
    }
    if (delegate_) {
        delegate_->didDiscoverCharacteristics(link->peripheral, serviceUuid, characteristics,
                                              std::nullopt);
    }
}

// Qt's service errors name the kind of request that failed, not the request: each belongs to the
// oldest outstanding request of its kind, or to the service's discovery.
void QtBleCentral::onServiceError(Link* link, const QString& serviceUuid,
                                  QLowEnergyService::ServiceError error) {
    const bool operation = error == QLowEnergyService::OperationError;
    if (error == QLowEnergyService::CharacteristicWriteError || (operation && link->issuingWrite)) {
        if (!link->pendingWrites.empty()) {
            const BleCharacteristic failed = link->pendingWrites.front();
            link->pendingWrites.pop_front();
            if (delegate_) {
                delegate_->didWriteValue(link->peripheral, failed, serviceErrorText(error));
            }
        }
    } else if (error == QLowEnergyService::DescriptorWriteError ||
               (operation && link->issuingNotification)) {
        if (!link->pendingNotifications.empty()) {
            const BleCharacteristic failed = link->pendingNotifications.front();
            link->pendingNotifications.pop_front();
            if (delegate_) {
                delegate_->didUpdateNotificationState(link->peripheral, failed,
                                                      serviceErrorText(error));
            }
        }
    } else if (link->servicesInDiscovery.remove(serviceUuid) && delegate_) {
        delegate_->didDiscoverCharacteristics(link->peripheral, serviceUuid, {},
                                              serviceErrorText(error));
    }
}

int QtBleCentral::maximumWriteValueLength(const BlePeripheral& peripheral) const {
    const Link* link = linkFor(peripheral.identifier);
    if (!link || !link->controller) {
        return kDefaultWritePayload;
    }
    // BlueZ's D-Bus interface does not tell the MTU (Qt says -1) and writes long values itself.
    const int mtu = link->controller->mtu();
    return mtu < 0 ? kAttributeMaximumLength : std::max(mtu - 3, kDefaultWritePayload);
}

void QtBleCentral::writeValue(const BlePeripheral& peripheral,
                              const BleCharacteristic& characteristic, const QByteArray& value) {
    post([this, peripheral, characteristic, value] {
        Link* link = linkFor(peripheral.identifier);
        QLowEnergyService* service =
            link && link->connected ? link->services.value(characteristic.serviceUuid) : nullptr;
        QLowEnergyCharacteristic target;
        if (service) {
            for (const QLowEnergyCharacteristic& candidate : service->characteristics()) {
                if (uuidText(candidate.uuid()) == characteristic.uuid) {
                    target = candidate;
                    break;
                }
            }
        }
        if (!target.isValid()) {
            if (delegate_) {
                delegate_->didWriteValue(peripheral, characteristic,
                                         link ? QStringLiteral("Unknown characteristic ") +
                                                    characteristic.uuid
                                              : kNotConnected);
            }
            return;
        }
        link->pendingWrites.push_back(characteristic);
        link->issuingWrite = true;
        service->writeCharacteristic(target, value, QLowEnergyService::WriteWithResponse);
        link->issuingWrite = false;
    });
}

void QtBleCentral::setNotifyValue(const BlePeripheral& peripheral,
                                  const BleCharacteristic& characteristic, bool enabled) {
    post([this, peripheral, characteristic, enabled] {
        Link* link = linkFor(peripheral.identifier);
        QLowEnergyService* service =
            link && link->connected ? link->services.value(characteristic.serviceUuid) : nullptr;
        QLowEnergyDescriptor configuration;
        if (service) {
            for (const QLowEnergyCharacteristic& candidate : service->characteristics()) {
                if (uuidText(candidate.uuid()) == characteristic.uuid) {
                    configuration = candidate.clientCharacteristicConfiguration();
                    break;
                }
            }
        }
        if (!configuration.isValid()) {
            if (delegate_) {
                delegate_->didUpdateNotificationState(
                    peripheral, characteristic,
                    link ? QStringLiteral("The characteristic cannot notify") : kNotConnected);
            }
            return;
        }
        // Notifications where the characteristic has them, else indications.
        const bool notifies = (characteristic.properties & bleProperty::notify) != 0;
        const QByteArray value = !enabled   ? QByteArray::fromHex("0000")
                                 : notifies ? QByteArray::fromHex("0100")
                                            : QByteArray::fromHex("0200");
        link->pendingNotifications.push_back(characteristic);
        link->issuingNotification = true;
        service->writeDescriptor(configuration, value);
        link->issuingNotification = false;
    });
}

std::unique_ptr<BleCentral> makeSystemBleCentral() {
    return std::make_unique<QtBleCentral>();
}

} // namespace connection
