#pragma once

#include "connection/manager_alert.hpp"
#include "connection/usb/cups_printers.hpp"
#include "connection/usb/serial_ports.hpp"
#include "connection/usb/usb_printer_bulk.hpp"
#include "connection/usb/usb_serial_port.hpp"
#include "protocol/bytes.hpp"

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace connection {

class IoQueue;

// Where the USB manager finds printers and how it reaches printer-class ones. `system` is the
// machine's own; tests replace what sits on the USB bus.
struct UsbRoutes {
    std::function<std::vector<USBPrinterBulkDevice>()> printerClassDevices;
    std::function<std::vector<USBSerialPort>()> lpinfoPrinters;
    std::function<SerialListing()> serialPorts;
    std::function<std::optional<QString>(const USBSerialPort&, const protocol::Bytes&)>
        sendToPrinterClass;

    static UsbRoutes system(const CupsPrograms& programs = {});
};

struct PortEnumeration {
    std::vector<USBSerialPort> ports; // de-duplicated by id, sorted by name
    std::vector<UnavailablePort> unavailable;
};

// Printer-class interfaces first (the CUPS listing only when there are none), then serial
// ports; the first of each id is kept; ordered by name, case-insensitively in the user's locale,
// keeping the order of equal names.
PortEnumeration enumeratePorts(const UsbRoutes& routes);

// The USB transport: the list of attached printers, the chosen one, and delivery of bytes to it
// over a serial line or a printer-class interface. Device work runs on one I/O thread; every
// published property changes on the main thread only.
class USBSerialManager : public ManagerAlert {
    Q_OBJECT
    Q_PROPERTY(QString selectedPortPath READ selectedPortPath WRITE setSelectedPortPath NOTIFY
                   selectedPortPathChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString connectionStatus READ connectionStatus NOTIFY connectionStatusChanged)
    Q_PROPERTY(QStringList accessProblems READ accessProblems NOTIFY accessProblemsChanged)

public:
    explicit USBSerialManager(QObject* parent = nullptr, UsbRoutes routes = UsbRoutes::system());
    ~USBSerialManager() override;

    const std::vector<USBSerialPort>& availablePorts() const { return availablePorts_; }
    QString selectedPortPath() const { return selectedPortPath_; }
    void setSelectedPortPath(const QString& path);
    bool isConnected() const { return isConnected_; }
    QString connectionStatus() const { return connectionStatus_; }
    const std::optional<USBSerialPort>& connectedPort() const { return connectedPort_; }
    // Ports that exist but could not be opened, each with what to do about it.
    QStringList accessProblems() const { return accessProblems_; }

    Q_INVOKABLE void refreshPorts();
    // Connects to the listed port with `portId`, the selected one when none is given, or the
    // first listed one when that id is not listed.
    void connect(const std::optional<QString>& portId = std::nullopt);
    Q_INVOKABLE void connectSelected() { connect(); }
    // Opens `path` as a serial line even when the listing does not show it (any tty).
    void connectSerialPath(const QString& path);
    Q_INVOKABLE void disconnect();
    void sendData(const protocol::Bytes& bytes, bool reportSuccess);

signals:
    void availablePortsChanged();
    void selectedPortPathChanged();
    void isConnectedChanged();
    void connectionStatusChanged();
    void accessProblemsChanged();
    // A refresh has published its result.
    void portsRefreshed();
    // A connect has ended, connected or not.
    void connectFinished(bool connected);
    // A send handed to the I/O thread has ended; `error` is the alert text, empty on success.
    void sendFinished(const QString& error);

private:
    struct IoSide;

    void open(const USBSerialPort& port);
    void publishPorts(const PortEnumeration& found);
    void markConnected(const USBSerialPort& port);
    void setIsConnected(bool connected);
    void setConnectionStatus(const QString& status);
    void finishSend(const std::optional<QString>& error, const QString& successText);

    std::vector<USBSerialPort> availablePorts_;
    QString selectedPortPath_;
    bool isConnected_ = false;
    QString connectionStatus_ = QStringLiteral("Not Connected");
    QStringList accessProblems_;
    std::optional<USBSerialPort> connectedPort_;
    // Each connect and disconnect starts a new attempt; an open that finishes for an older one
    // is void (its line was already closed by the disconnect that came after it).
    quint64 attempt_ = 0;
    UsbRoutes routes_;
    std::shared_ptr<IoSide> io_;
    std::unique_ptr<IoQueue> ioQueue_;
};

} // namespace connection
