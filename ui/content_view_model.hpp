#pragma once

#include "connection/connection_type.hpp"
#include "connection/target.hpp"
#include "connection/transports.hpp"
#include "ui/alert_queue.hpp"
#include "ui/device_lists.hpp"
#include "ui/printer_finder.hpp"
#include "ui/settings_section.hpp"

#include <QObject>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <memory>
#include <optional>

namespace ui {

// The main window's state and actions: the three transports, the one chosen in the panel, the
// address fields, what the status row and the dashboard show, the window's alerts, and whether
// the settings sheet is open. QML lays it out; every rule lives here. Each property has a
// notification of its own, sent only when its value changes.
class ContentViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(connection::NetworkManager* networkManager READ networkManagerObject CONSTANT)
    Q_PROPERTY(connection::BluetoothManager* bluetoothManager READ bluetoothManagerObject CONSTANT)
    Q_PROPERTY(connection::USBSerialManager* usbSerialManager READ usbSerialManagerObject CONSTANT)
    Q_PROPERTY(ui::AlertQueue* alerts READ alerts CONSTANT)
    Q_PROPERTY(ui::UsbPortList* usbPorts READ usbPorts CONSTANT)
    Q_PROPERTY(ui::BluetoothDeviceList* bluetoothDevices READ bluetoothDevices CONSTANT)
    Q_PROPERTY(ui::PrinterFinder* printerFinder READ printerFinder CONSTANT)
    Q_PROPERTY(QString connectionType READ connectionTypeText NOTIFY connectionTypeChanged)
    Q_PROPERTY(QString settingsSection READ settingsSectionText NOTIFY settingsSectionChanged)
    Q_PROPERTY(QString ipAddress READ ipAddress WRITE setIpAddress NOTIFY ipAddressChanged)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY portChanged)
    Q_PROPERTY(bool appearReady READ appearReady NOTIFY appearReadyChanged)
    Q_PROPERTY(bool isCurrentConnected READ isCurrentConnected NOTIFY isCurrentConnectedChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString connectedName READ connectedName NOTIFY connectedNameChanged)
    Q_PROPERTY(QString connectionKind READ connectionKind NOTIFY connectionKindChanged)
    Q_PROPERTY(
        int selectedUsbPortIndex READ selectedUsbPortIndex NOTIFY selectedUsbPortIndexChanged)
    Q_PROPERTY(bool usbConnectEnabled READ usbConnectEnabled NOTIFY usbConnectEnabledChanged)
    Q_PROPERTY(
        QString connectedDeviceName READ connectedDeviceName NOTIFY connectedDeviceNameChanged)
    // A short word on the communication test, cleared after a few seconds.
    Q_PROPERTY(QString testNotice READ testNotice NOTIFY testNoticeChanged)

public:
    // Where the Bluetooth manager gets its central; tests and screenshots put a scripted one in
    // before the window is created.
    using CentralFactory = std::function<std::unique_ptr<connection::BleCentral>()>;
    static void setCentralFactory(CentralFactory factory);
    // The printer named on the command line (`--connect`): the next window starts on its
    // transport, with its fields filled, and connects once its content appears.
    static void setStartupTarget(std::optional<connection::Target> target);

    static constexpr std::chrono::milliseconds kTestNoticeTime{4000};

    explicit ContentViewModel(QObject* parent = nullptr);
    ~ContentViewModel() override;

    connection::Transports& transports() { return *transports_; }
    connection::NetworkManager& networkManager() { return transports_->network(); }
    connection::BluetoothManager& bluetoothManager() { return transports_->bluetooth(); }
    connection::USBSerialManager& usbSerialManager() { return transports_->usb(); }
    AlertQueue* alerts() { return &alerts_; }
    UsbPortList* usbPorts() { return usbPorts_.get(); }
    BluetoothDeviceList* bluetoothDevices() { return bluetoothDevices_.get(); }
    PrinterFinder* printerFinder() { return printerFinder_.get(); }

    connection::ConnectionType connectionType() const { return connectionType_; }
    std::optional<SettingsSection> settingsSection() const { return settingsSection_; }
    QString connectionTypeText() const;
    QString settingsSectionText() const;
    QString ipAddress() const { return ipAddress_; }
    void setIpAddress(const QString& address);
    QString port() const { return port_; }
    void setPort(const QString& port);
    bool appearReady() const { return appearReady_; }

    bool isCurrentConnected() const { return derived_.isCurrentConnected; }
    QString statusText() const { return derived_.statusText; }
    QString connectedName() const { return derived_.connectedName; }
    QString connectionKind() const { return derived_.connectionKind; }
    int selectedUsbPortIndex() const { return derived_.selectedUsbPortIndex; }
    bool usbConnectEnabled() const { return derived_.usbConnectEnabled; }
    QString connectedDeviceName() const { return derived_.connectedDeviceName; }
    QString testNotice() const { return testNotice_; }

    // How a USB port id reads on the dashboard: a listed CUPS printer's name, "USB Printer" for
    // an unlisted one, else the id's last path component.
    static QString usbPortDisplayName(const QString& portId,
                                      const std::vector<connection::USBSerialPort>& ports);

    // The window's content appeared for the first time.
    Q_INVOKABLE void appear();
    // While the settings sheet is open the transport stays as it is: these do nothing then.
    Q_INVOKABLE void selectConnectionType(const QString& rawType);
    void selectConnectionType(connection::ConnectionType type);
    Q_INVOKABLE void toggleNetworkConnection();
    // Puts a found printer's address and port into the fields (nothing else changes).
    Q_INVOKABLE void chooseFoundPrinter(int row);
    Q_INVOKABLE void toggleUSBConnection();
    Q_INVOKABLE void refreshUsbPorts();
    Q_INVOKABLE void selectUsbPort(const QString& portId);
    Q_INVOKABLE void startBluetoothScan();
    Q_INVOKABLE void connectBluetoothDevice(const QString& identifier);
    Q_INVOKABLE void disconnectBluetooth();
    Q_INVOKABLE void sendTestData();
    Q_INVOKABLE void openSettings(const QString& rawSection);
    Q_INVOKABLE void closeSettings();
    // Chooses the target's transport, fills its fields and has the transport connect to it: a
    // listed USB port once the listing is in, a Bluetooth printer once the scan sees it.
    // Choosing another transport meanwhile ends the attempt.
    void connectTo(const connection::Target& target);

signals:
    void connectionTypeChanged();
    void settingsSectionChanged();
    void ipAddressChanged();
    void portChanged();
    void appearReadyChanged();
    void isCurrentConnectedChanged();
    void statusTextChanged();
    void connectedNameChanged();
    void connectionKindChanged();
    void selectedUsbPortIndexChanged();
    void usbConnectEnabledChanged();
    void connectedDeviceNameChanged();
    void testNoticeChanged();

private:
    // What the view shows that follows from the transports' state and the panel's choice.
    struct Derived {
        bool isCurrentConnected = false;
        QString statusText;
        QString connectedName;
        QString connectionKind;
        int selectedUsbPortIndex = -1;
        bool usbConnectEnabled = false;
        QString connectedDeviceName;
    };
    Derived compute() const;
    // Recomputes what follows from the state and tells of each value that changed.
    void refresh();
    // Queues a transport's alert in the window's alerts under `title`.
    void postManagerAlert(connection::ManagerAlert& manager, const QString& title,
                          const QString& message);
    void showTestNotice(const QString& notice);

    std::unique_ptr<connection::Transports> transports_;
    // Shorthands for the three managers the panel drives.
    connection::NetworkManager* network_;
    connection::BluetoothManager* bluetooth_;
    connection::USBSerialManager* usb_;
    AlertQueue alerts_;
    std::unique_ptr<UsbPortList> usbPorts_;
    std::unique_ptr<BluetoothDeviceList> bluetoothDevices_;
    std::unique_ptr<PrinterFinder> printerFinder_;
    connection::ConnectionType connectionType_ = connection::ConnectionType::usb;
    std::optional<connection::ConnectionType> previousConnectionType_;
    std::optional<SettingsSection> settingsSection_;
    QString ipAddress_ = QStringLiteral("192.168.1.87");
    QString port_ = QStringLiteral("9100");
    // The address the network link was made to: the fields may be edited or reset meanwhile.
    QString linkedAddress_;
    bool appearReady_ = false;
    Derived derived_;
    QString testNotice_;
    QTimer testNoticeTimer_;
    std::optional<connection::Target> startupTarget_;

    connection::NetworkManager* networkManagerObject() const { return network_; }
    connection::BluetoothManager* bluetoothManagerObject() const { return bluetooth_; }
    connection::USBSerialManager* usbSerialManagerObject() const { return usb_; }
};

} // namespace ui
