#pragma once

#include "connection/connection_type.hpp"
#include "connection/transports.hpp"
#include "ui/settings_section.hpp"

#include <QObject>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <memory>
#include <optional>

namespace ui {

// The main window's state and actions: the three transports, the one chosen in the panel, the
// address fields, what the status row and the dashboard show, and whether the settings sheet is
// open. QML lays it out; every rule lives here.
class ContentViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject* networkManager READ networkManagerObject CONSTANT)
    Q_PROPERTY(QObject* bluetoothManager READ bluetoothManagerObject CONSTANT)
    Q_PROPERTY(QObject* usbSerialManager READ usbSerialManagerObject CONSTANT)
    Q_PROPERTY(QString connectionType READ connectionTypeText NOTIFY stateChanged)
    Q_PROPERTY(QString settingsSection READ settingsSectionText NOTIFY stateChanged)
    Q_PROPERTY(QString ipAddress READ ipAddress WRITE setIpAddress NOTIFY stateChanged)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY stateChanged)
    Q_PROPERTY(bool appearReady READ appearReady NOTIFY stateChanged)
    Q_PROPERTY(bool isCurrentConnected READ isCurrentConnected NOTIFY stateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY stateChanged)
    Q_PROPERTY(QString connectedName READ connectedName NOTIFY stateChanged)
    Q_PROPERTY(QString connectionKind READ connectionKind NOTIFY stateChanged)
    Q_PROPERTY(QVariantList usbPorts READ usbPorts NOTIFY stateChanged)
    Q_PROPERTY(int selectedUsbPortIndex READ selectedUsbPortIndex NOTIFY stateChanged)
    Q_PROPERTY(bool usbConnectEnabled READ usbConnectEnabled NOTIFY stateChanged)
    Q_PROPERTY(QVariantList bluetoothDevices READ bluetoothDevices NOTIFY stateChanged)
    Q_PROPERTY(QString connectedDeviceName READ connectedDeviceName NOTIFY stateChanged)

public:
    // Where the Bluetooth manager gets its central; tests and screenshots put a scripted one in
    // before the window is created.
    using CentralFactory = std::function<std::unique_ptr<connection::BleCentral>()>;
    static void setCentralFactory(CentralFactory factory);

    explicit ContentViewModel(QObject* parent = nullptr);
    ~ContentViewModel() override;

    connection::Transports& transports() { return *transports_; }
    connection::NetworkManager& networkManager() { return transports_->network(); }
    connection::BluetoothManager& bluetoothManager() { return transports_->bluetooth(); }
    connection::USBSerialManager& usbSerialManager() { return transports_->usb(); }

    connection::ConnectionType connectionType() const { return connectionType_; }
    std::optional<SettingsSection> settingsSection() const { return settingsSection_; }
    QString connectionTypeText() const;
    QString settingsSectionText() const;
    QString ipAddress() const { return ipAddress_; }
    void setIpAddress(const QString& address);
    QString port() const { return port_; }
    void setPort(const QString& port);
    bool appearReady() const { return appearReady_; }

    bool isCurrentConnected() const;
    QString statusText() const;
    QString connectedName() const;
    QString connectionKind() const;
    QVariantList usbPorts() const;
    int selectedUsbPortIndex() const;
    bool usbConnectEnabled() const;
    QVariantList bluetoothDevices() const;
    QString connectedDeviceName() const;

    // How a USB port id reads on the dashboard: a listed CUPS printer's name, "USB Printer" for
    // an unlisted one, else the id's last path component.
    static QString usbPortDisplayName(const QString& portId,
                                      const std::vector<connection::USBSerialPort>& ports);
    // A device identifier as AA:BB:CC:DD:EE:FF, from its last twelve hex digits.
    static QString identifierLine(const QString& identifier);

    // The window's content appeared for the first time.
    Q_INVOKABLE void appear();
    Q_INVOKABLE void selectConnectionType(const QString& rawType);
    void selectConnectionType(connection::ConnectionType type);
    Q_INVOKABLE void toggleNetworkConnection();
    Q_INVOKABLE void toggleUSBConnection();
    Q_INVOKABLE void refreshUsbPorts();
    Q_INVOKABLE void selectUsbPort(const QString& portId);
    Q_INVOKABLE void startBluetoothScan();
    Q_INVOKABLE void connectBluetoothDevice(const QString& identifier);
    Q_INVOKABLE void disconnectBluetooth();
    Q_INVOKABLE void sendTestData();
    Q_INVOKABLE void openSettings(const QString& rawSection);
    Q_INVOKABLE void closeSettings();

signals:
    void stateChanged();

private:
    std::unique_ptr<connection::Transports> transports_;
    // Shorthands for the three managers the panel drives.
    connection::NetworkManager* network_;
    connection::BluetoothManager* bluetooth_;
    connection::USBSerialManager* usb_;
    connection::ConnectionType connectionType_ = connection::ConnectionType::usb;
    std::optional<connection::ConnectionType> previousConnectionType_;
    std::optional<SettingsSection> settingsSection_;
    QString ipAddress_ = QStringLiteral("192.168.1.87");
    QString port_ = QStringLiteral("9100");
    bool appearReady_ = false;

    QObject* networkManagerObject() const { return network_; }
    QObject* bluetoothManagerObject() const { return bluetooth_; }
    QObject* usbSerialManagerObject() const { return usb_; }
};

} // namespace ui
