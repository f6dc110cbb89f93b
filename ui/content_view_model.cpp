#include "ui/content_view_model.hpp"

#include "discovery/escaped_text.hpp"
#include "plans/plan_run.hpp"
#include "plans/screen_plans.hpp"

#include <QLoggingCategory>

#include <algorithm>

namespace ui {
namespace {

// Off unless asked for (QT_LOGGING_RULES="printer-config.startup.debug=true"): when the window's
// content was first shown, for the start-up benchmark.
Q_LOGGING_CATEGORY(startupLog, "printer-config.startup", QtWarningMsg)

using connection::ConnectionType;

ContentViewModel::CentralFactory& centralFactory() {
    static ContentViewModel::CentralFactory factory = [] {
        return connection::makeSystemBleCentral();
    };
    return factory;
}

std::optional<connection::Target>& startupTarget() {
    static std::optional<connection::Target> target;
    return target;
}

} // namespace

void ContentViewModel::setCentralFactory(CentralFactory factory) {
    centralFactory() = std::move(factory);
}

void ContentViewModel::setStartupTarget(std::optional<connection::Target> target) {
    startupTarget() = std::move(target);
}

ContentViewModel::ContentViewModel(QObject* parent)
    : QObject(parent),
      // The Bluetooth stack starts when Bluetooth is first chosen: until then nothing asks the
      // system's Bluetooth service (a D-Bus round trip, seconds without the service) or scans.
      transports_(std::make_unique<connection::Transports>(
          [] { return std::make_unique<connection::DeferredBleCentral>(centralFactory()); })),
      network_(&transports_->network()), bluetooth_(&transports_->bluetooth()),
      usb_(&transports_->usb()), usbPorts_(std::make_unique<UsbPortList>(*usb_)),
      bluetoothDevices_(std::make_unique<BluetoothDeviceList>(*bluetooth_)),
      printerFinder_(std::make_unique<PrinterFinder>()) {
    using namespace connection;
    const auto changed = [this] { refresh(); };
    connect(network_, &NetworkManager::isConnectedChanged, this, changed);
    connect(network_, &NetworkManager::connectionStatusChanged, this, changed);
    connect(bluetooth_, &BluetoothManager::discoveredDevicesChanged, this, changed);
    connect(bluetooth_, &BluetoothManager::connectedDeviceChanged, this, changed);
    connect(usb_, &USBSerialManager::availablePortsChanged, this, changed);
    connect(usb_, &USBSerialManager::selectedPortPathChanged, this, changed);
    connect(usb_, &USBSerialManager::isConnectedChanged, this, changed);
    connect(usb_, &USBSerialManager::connectionStatusChanged, this, changed);
    connect(network_, &ManagerAlert::alertRaised, this, [this](const QString& message) {
        postManagerAlert(*network_, QStringLiteral("Network"), message);
    });
    connect(usb_, &ManagerAlert::alertRaised, this, [this](const QString& message) {
        postManagerAlert(*usb_, QStringLiteral("USB"), message);
    });
    connect(bluetooth_, &ManagerAlert::alertRaised, this, [this](const QString& message) {
        // Nobody asked for Bluetooth: a machine without a radio is no news until then (choosing
        // Bluetooth says what the radio last reported).
        if (connectionType_ != ConnectionType::bluetooth) {
            bluetooth_->setShowAlert(false);
            return;
        }
        postManagerAlert(*bluetooth_, QStringLiteral("Bluetooth"), message);
    });
    testNoticeTimer_.setSingleShot(true);
    testNoticeTimer_.setInterval(kTestNoticeTime);
    connect(&testNoticeTimer_, &QTimer::timeout, this, [this] { showTestNotice({}); });
    startupTarget_ = std::exchange(startupTarget(), std::nullopt);
    derived_ = compute();
}

ContentViewModel::~ContentViewModel() = default;

void ContentViewModel::postManagerAlert(connection::ManagerAlert& manager, const QString& title,
                                        const QString& message) {
    // The manager's flag stays up while any of its alerts waits.
    alerts_.post(title, message, [this, &manager, title] {
        if (!alerts_.holds(title)) {
            manager.setShowAlert(false);
        }
    });
}

QString ContentViewModel::connectionTypeText() const {
    return QString::fromLatin1(connection::rawValue(connectionType_).data());
}

QString ContentViewModel::settingsSectionText() const {
    return settingsSection_ ? rawValue(*settingsSection_) : QString();
}

void ContentViewModel::setIpAddress(const QString& address) {
    if (address != ipAddress_) {
        ipAddress_ = address;
        emit ipAddressChanged();
        refresh();
    }
}

void ContentViewModel::chooseFoundPrinter(int row) {
    if (const auto* printer = printerFinder_->printerAt(row)) {
        setIpAddress(printer->address.toString());
        setPort(QString::number(printer->port));
    }
}

void ContentViewModel::setPort(const QString& port) {
    if (port != port_) {
        port_ = port;
        emit portChanged();
        refresh();
    }
}

// --- derived values -------------------------------------------------------------------------

ContentViewModel::Derived ContentViewModel::compute() const {
    Derived d;
    d.isCurrentConnected = (*transports_)[connectionType_].isLinkUp();
    const auto& device = bluetooth_->connectedDevice();
    // The name a printer gives itself is shown as text, never as line breaks or control codes.
    const QString deviceName = device ? discovery::escapedText(device->name) : QString();
    d.connectedDeviceName = deviceName.isEmpty() ? QStringLiteral("Printer") : deviceName;
    switch (connectionType_) {
    case ConnectionType::bluetooth: {
        const auto count = bluetooth_->discoveredDevices().size();
        if (!deviceName.isEmpty()) {
            d.statusText = QStringLiteral("Connected · ") + deviceName;
        } else if (count == 0) {
            d.statusText = QStringLiteral("Scanning for printers…");
        } else {
            d.statusText =
                QString::number(count) + QStringLiteral(" device(s) found — tap to connect");
        }
        d.connectedName = deviceName.isEmpty() ? QStringLiteral("Bluetooth Printer") : deviceName;
        d.connectionKind = QStringLiteral("Bluetooth LE");
        break;
    }
    case ConnectionType::network: {
        const QString status = network_->connectionStatus();
        d.statusText = status.isEmpty() ? QStringLiteral("Enter printer IP and port") : status;
        d.connectedName = network_->isConnected() && !linkedAddress_.isEmpty()
                              ? linkedAddress_
                              : ipAddress_ + QLatin1Char(':') + port_;
        d.connectionKind = QStringLiteral("TCP network printer");
        break;
    }
    case ConnectionType::usb: {
        const QString status = usb_->connectionStatus();
        d.statusText = status.isEmpty() ? QStringLiteral("Select a USB port and connect") : status;
        d.connectedName = QStringLiteral("USB Printer");
        d.connectionKind = discovery::escapedText(
            usbPortDisplayName(usb_->selectedPortPath(), usb_->availablePorts()));
        break;
    }
    }
    const auto& ports = usb_->availablePorts();
    const auto port =
        std::ranges::find(ports, usb_->selectedPortPath(), &connection::USBSerialPort::id);
    d.selectedUsbPortIndex = port == ports.end() ? -1 : static_cast<int>(port - ports.begin());
    d.usbConnectEnabled = usb_->isConnected() || !usb_->selectedPortPath().isEmpty();
    return d;
}

void ContentViewModel::refresh() {
    const Derived next = compute();
    const Derived previous = std::exchange(derived_, next);
    if (next.isCurrentConnected != previous.isCurrentConnected) {
        emit isCurrentConnectedChanged();
    }
    if (next.statusText != previous.statusText) {
        emit statusTextChanged();
    }
    if (next.connectedName != previous.connectedName) {
        emit connectedNameChanged();
    }
    if (next.connectionKind != previous.connectionKind) {
        emit connectionKindChanged();
    }
    if (next.selectedUsbPortIndex != previous.selectedUsbPortIndex) {
        emit selectedUsbPortIndexChanged();
    }
    if (next.usbConnectEnabled != previous.usbConnectEnabled) {
        emit usbConnectEnabledChanged();
    }
    if (next.connectedDeviceName != previous.connectedDeviceName) {
        emit connectedDeviceNameChanged();
    }
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

// --- actions --------------------------------------------------------------------------------

void ContentViewModel::appear() {
    previousConnectionType_ = connectionType_;
    if (!appearReady_) {
        qCDebug(startupLog, "content shown");
        appearReady_ = true;
        emit appearReadyChanged();
    }
    if (startupTarget_) {
        connectTo(*std::exchange(startupTarget_, std::nullopt));
        return;
    }
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
    if (settingsSection_) {
        return;
    }
    if (previousConnectionType_ && *previousConnectionType_ != type) {
        (*transports_)[*previousConnectionType_].disconnect();
    }
    const bool changed = type != connectionType_;
    connectionType_ = type;
    previousConnectionType_ = type;
    if (changed) {
        emit connectionTypeChanged();
    }
    switch (type) {
    case ConnectionType::network:
        setIpAddress(QStringLiteral("192.168.1.87"));
        setPort(QStringLiteral("9100"));
        break;
    case ConnectionType::usb:
        usb_->refreshPorts();
        break;
    case ConnectionType::bluetooth:
        // The radio's own words say why there is no scan, each time Bluetooth is chosen; a
        // "turn it on" would contradict "not supported". The first choice starts the Bluetooth
        // stack, whose first report then speaks for itself.
        if (const QString problem = bluetooth_->radioProblem(); !problem.isEmpty()) {
            postManagerAlert(*bluetooth_, QStringLiteral("Bluetooth"), problem);
        } else {
            bluetooth_->startScan();
        }
        break;
    }
    refresh();
}

void ContentViewModel::toggleNetworkConnection() {
    if (settingsSection_) {
        return;
    }
    if (network_->isConnected()) {
        network_->disconnect();
        return;
    }
    bluetooth_->disconnect();
    usb_->disconnect();
    linkedAddress_ = ipAddress_ + QLatin1Char(':') + port_;
    network_->connect(ipAddress_, port_);
}

void ContentViewModel::toggleUSBConnection() {
    if (settingsSection_) {
        return;
    }
    if (usb_->isConnected()) {
        usb_->disconnect();
        return;
    }
    bluetooth_->disconnect();
    network_->disconnect();
    usb_->connect();
}

void ContentViewModel::connectTo(const connection::Target& target) {
    if (settingsSection_) {
        return;
    }
    selectConnectionType(target.connectionType());
    if (target.kind == connection::Target::Kind::tcp) {
        setIpAddress(target.address);
        setPort(target.port);
        if (!network_->isConnected() || linkedAddress_ != ipAddress_ + QLatin1Char(':') + port_) {
            network_->disconnect();
            toggleNetworkConnection();
        }
        return;
    }
    for (const auto type : connection::kAllConnectionTypes) {
        if (type != target.connectionType()) {
            (*transports_)[type].disconnect();
        }
    }
    (*transports_)[target.connectionType()].connectTo(target);
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
    if (device != devices.end() && !settingsSection_) {
        bluetooth_->connect(*device);
    }
}

void ContentViewModel::disconnectBluetooth() {
    if (!settingsSection_) {
        bluetooth_->disconnect();
    }
}

void ContentViewModel::sendTestData() {
    auto* run = new plans::PlanRun(plans::testPlan(), &(*transports_)[connectionType_]);
    connect(run, &plans::PlanRun::stepReported, this,
            [this](int, const connection::DeliveryReport& report) {
                showTestNotice(report.delivered
                                   ? QStringLiteral("Communication test sent to the printer")
                                   : QStringLiteral("Communication test not sent: ") +
                                         report.error);
            });
    run->start();
}

void ContentViewModel::showTestNotice(const QString& notice) {
    if (!notice.isEmpty()) {
        testNoticeTimer_.start();
    }
    if (notice != testNotice_) {
        testNotice_ = notice;
        emit testNoticeChanged();
    }
}

void ContentViewModel::openSettings(const QString& rawSection) {
    if (const auto section = settingsSectionFromRaw(rawSection);
        section && section != settingsSection_) {
        settingsSection_ = section;
        emit settingsSectionChanged();
    }
}

void ContentViewModel::closeSettings() {
    if (settingsSection_) {
        settingsSection_.reset();
        emit settingsSectionChanged();
    }
}

} // namespace ui
