#include "ui/content_view_model.hpp"

#include "plans/plan_run.hpp"
#include "plans/screen_plans.hpp"

#include <algorithm>

namespace ui {
namespace {

using connection::ConnectionType;

ContentViewModel::CentralFactory& centralFactory() {
    static ContentViewModel::CentralFactory factory = [] {
        return connection::makeSystemBleCentral();
    };
    return factory;
}

} // namespace

void ContentViewModel::setCentralFactory(CentralFactory factory) {
    centralFactory() = std::move(factory);
}

ContentViewModel::ContentViewModel(QObject* parent)
    : QObject(parent),
      // The Bluetooth stack starts with the window: its first state report starts a scan.
      transports_(std::make_unique<connection::Transports>(centralFactory()())),
      network_(&transports_->network()), bluetooth_(&transports_->bluetooth()),
      usb_(&transports_->usb()) {
    using namespace connection;
    const auto changed = [this] { emit stateChanged(); };
    connect(network_, &NetworkManager::isConnectedChanged, this, changed);
    connect(network_, &NetworkManager::connectionStatusChanged, this, changed);
    connect(bluetooth_, &BluetoothManager::discoveredDevicesChanged, this, changed);
    connect(bluetooth_, &BluetoothManager::deviceRSSIChanged, this, changed);
    connect(bluetooth_, &BluetoothManager::connectedDeviceChanged, this, changed);
    connect(usb_, &USBSerialManager::availablePortsChanged, this, changed);
    connect(usb_, &USBSerialManager::selectedPortPathChanged, this, changed);
    connect(usb_, &USBSerialManager::isConnectedChanged, this, changed);
    connect(usb_, &USBSerialManager::connectionStatusChanged, this, changed);
}

ContentViewModel::~ContentViewModel() = default;

QString ContentViewModel::connectionTypeText() const {
    return QString::fromLatin1(connection::rawValue(connectionType_).data());
}

QString ContentViewModel::settingsSectionText() const {
    return settingsSection_ ? rawValue(*settingsSection_) : QString();
}

void ContentViewModel::setIpAddress(const QString& address) {
    if (address != ipAddress_) {
        ipAddress_ = address;
        emit stateChanged();
    }
}

void ContentViewModel::setPort(const QString& port) {
    if (port != port_) {
        port_ = port;
        emit stateChanged();
    }
}

// --- derived values -------------------------------------------------------------------------

bool ContentViewModel::isCurrentConnected() const {
    return (*transports_)[connectionType_].isLinkUp();
}

QString ContentViewModel::statusText() const {
    switch (connectionType_) {
    case ConnectionType::bluetooth: {
        const auto& device = bluetooth_->connectedDevice();
        if (device && !device->name.isEmpty()) {
            return QStringLiteral("Connected · ") + device->name;
        }
        const auto count = bluetooth_->discoveredDevices().size();
        if (count == 0) {
            return QStringLiteral("Scanning for printers…");
        }
        return QString::number(count) + QStringLiteral(" device(s) found — tap to connect");
    }
    case ConnectionType::network: {
        const QString status = network_->connectionStatus();
        return status.isEmpty() ? QStringLiteral("Enter printer IP and port") : status;
    }
    case ConnectionType::usb: {
        const QString status = usb_->connectionStatus();
        return status.isEmpty() ? QStringLiteral("Select a USB port and connect") : status;
    }
    }
    return {};
}

QString ContentViewModel::connectedName() const {
    switch (connectionType_) {
    case ConnectionType::network:
        return ipAddress_ + QLatin1Char(':') + port_;
    case ConnectionType::bluetooth: {
        const auto& device = bluetooth_->connectedDevice();
        return device && !device->name.isEmpty() ? device->name
                                                 : QStringLiteral("Bluetooth Printer");
    }
    case ConnectionType::usb:
        return QStringLiteral("USB Printer");
    }
    return {};
}

QString ContentViewModel::connectionKind() const {
    switch (connectionType_) {
    case ConnectionType::network:
        return QStringLiteral("TCP network printer");
    case ConnectionType::bluetooth:
        return QStringLiteral("Bluetooth LE");
    case ConnectionType::usb:
        return usbPortDisplayName(usb_->selectedPortPath(), usb_->availablePorts());
    }
    return {};
}

QString ContentViewModel::usbPortDisplayName(const QString& portId,
                                             const std::vector<connection::USBSerialPort>& ports) {
    if (portId.startsWith(QLatin1String("usb://"))) {
        const auto port = std::ranges::find(ports, portId, &connection::USBSerialPort::id);
        return port != ports.end() ? port->name : QStringLiteral("USB Printer");
    }
    const auto slash = portId.lastIndexOf(QLatin1Char('/'));
    QString name = slash < 0 ? portId : portId.mid(slash + 1);
    // A macOS callout node reads without its "cu." prefix: /dev/cu.usbserial-1410 is
    // usbserial-1410.
    if (slash >= 0 && name.startsWith(QLatin1String("cu."))) {
        name.remove(0, 3);
    }
    return name;
}

QString ContentViewModel::identifierLine(const QString& identifier) {
    // A UUID's last group, or an address's six bytes: the same twelve hex digits either way.
    QString digits = identifier;
    digits.remove(QLatin1Char('-')).remove(QLatin1Char(':'));
    digits = digits.right(12);
    QString line;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && i % 2 == 0) {
            line += QLatin1Char(':');
        }
        line += digits[i];
    }
    return line.toUpper();
}

QVariantList ContentViewModel::usbPorts() const {
    QVariantList ports;
    for (const auto& port : usb_->availablePorts()) {
        ports.append(
            QVariantMap{{QStringLiteral("id"), port.id}, {QStringLiteral("name"), port.name}});
    }
    return ports;
}

int ContentViewModel::selectedUsbPortIndex() const {
    const auto& ports = usb_->availablePorts();
    const auto port =
        std::ranges::find(ports, usb_->selectedPortPath(), &connection::USBSerialPort::id);
    return port == ports.end() ? -1 : static_cast<int>(port - ports.begin());
}

bool ContentViewModel::usbConnectEnabled() const {
    return usb_->isConnected() || !usb_->selectedPortPath().isEmpty();
}

QVariantList ContentViewModel::bluetoothDevices() const {
    QVariantList devices;
    for (const auto& device : bluetooth_->discoveredDevices()) {
        devices.append(QVariantMap{
            {QStringLiteral("identifier"), device.identifier},
            {QStringLiteral("name"), device.displayName()},
            {QStringLiteral("identifierLine"), identifierLine(device.identifier)},
            {QStringLiteral("rssi"), bluetooth_->deviceRSSI().value(device.identifier, 0)},
        });
    }
    return devices;
}

QString ContentViewModel::connectedDeviceName() const {
    const auto& device = bluetooth_->connectedDevice();
    return device && !device->name.isEmpty() ? device->name : QStringLiteral("Printer");
}

// --- actions --------------------------------------------------------------------------------

void ContentViewModel::appear() {
    previousConnectionType_ = connectionType_;
    appearReady_ = true;
    emit stateChanged();
    if (connectionType_ == ConnectionType::usb) {
        usb_->refreshPorts();
    } else if (connectionType_ == ConnectionType::bluetooth) {
        bluetooth_->startScan();
    }
}

void ContentViewModel::selectConnectionType(const QString& rawType) {
    if (const auto type = connection::connectionTypeFromRaw(rawType.toStdString())) {
        selectConnectionType(*type);
    }
}

void ContentViewModel::selectConnectionType(ConnectionType type) {
    if (previousConnectionType_ && *previousConnectionType_ != type) {
        (*transports_)[*previousConnectionType_].disconnect();
    }
    connectionType_ = type;
    previousConnectionType_ = type;
    switch (type) {
    case ConnectionType::network:
        ipAddress_ = QStringLiteral("192.168.1.87");
        port_ = QStringLiteral("9100");
        break;
    case ConnectionType::usb:
        usb_->refreshPorts();
        break;
    case ConnectionType::bluetooth:
        bluetooth_->startScan();
        break;
    }
    emit stateChanged();
}

void ContentViewModel::toggleNetworkConnection() {
    if (network_->isConnected()) {
        network_->disconnect();
        return;
    }
    bluetooth_->disconnect();
    usb_->disconnect();
    network_->connect(ipAddress_, port_);
}

void ContentViewModel::toggleUSBConnection() {
    if (usb_->isConnected()) {
        usb_->disconnect();
        return;
    }
    bluetooth_->disconnect();
    network_->disconnect();
    usb_->connect();
}

void ContentViewModel::refreshUsbPorts() {
    usb_->refreshPorts();
}

void ContentViewModel::selectUsbPort(const QString& portId) {
    usb_->setSelectedPortPath(portId);
}

void ContentViewModel::startBluetoothScan() {
    bluetooth_->startScan();
}

void ContentViewModel::connectBluetoothDevice(const QString& identifier) {
    const auto& devices = bluetooth_->discoveredDevices();
    const auto device =
        std::ranges::find(devices, identifier, &connection::BlePeripheral::identifier);
    if (device != devices.end()) {
        bluetooth_->connect(*device);
    }
}

void ContentViewModel::disconnectBluetooth() {
    bluetooth_->disconnect();
}

void ContentViewModel::sendTestData() {
    (new plans::PlanRun(plans::testPlan(), &(*transports_)[connectionType_]))->start();
}

void ContentViewModel::openSettings(const QString& rawSection) {
    if (const auto section = settingsSectionFromRaw(rawSection)) {
        settingsSection_ = section;
        emit stateChanged();
    }
}

void ContentViewModel::closeSettings() {
    if (settingsSection_) {
        settingsSection_.reset();
        emit stateChanged();
    }
}

} // namespace ui
