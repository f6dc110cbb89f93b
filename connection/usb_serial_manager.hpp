#pragma once

#include "connection/transport.hpp"
#include "connection/usb/cups_printers.hpp"
#include "connection/usb/serial_ports.hpp"
#include "connection/usb/usb_printer_bulk.hpp"
#include "connection/usb/usb_serial_port.hpp"

#include <QStringList>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace connection {

class IoQueue;

// Where the USB manager finds printers and how it reaches printer-class ones. `system` is the
// machine's own; tests replace what sits on the USB bus.
struct UsbRoutes {
    std::function<std::vector<USBPrinterBulkDevice>()> printerClassDevices;
    std::function<std::vector<USBSerialPort>(std::stop_token)> lpinfoPrinters;
    // The argument is the serial line this program holds open (listed without a probe).
    std::function<SerialListing(const QString& heldPath)> serialPorts;
    std::function<SendResult(const USBSerialPort&, const protocol::Bytes&, const BulkLimits&)>
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
PortEnumeration enumeratePorts(const UsbRoutes& routes, const QString& heldPath = {},
                               std::stop_token stop = {});

// The USB transport: the list of attached printers, the chosen one, and delivery of bytes to it
// over a serial line or a printer-class interface. Device work runs on one I/O thread; every
// published property changes on the main thread only, and nothing here waits for that thread.
class USBSerialManager : public Transport {
    Q_OBJECT
    Q_PROPERTY(QString selectedPortPath READ selectedPortPath WRITE setSelectedPortPath NOTIFY
                   selectedPortPathChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString connectionStatus READ connectionStatus NOTIFY connectionStatusChanged)
    Q_PROPERTY(QStringList accessProblems READ accessProblems NOTIFY accessProblemsChanged)

public:
    explicit USBSerialManager(QObject* parent = nullptr, UsbRoutes routes = UsbRoutes::system());
    // Stops the device work in progress (within a fraction of a second) and closes the line.
    ~USBSerialManager() override;

    const std::vector<USBSerialPort>& availablePorts() const { return availablePorts_; }
    QString selectedPortPath() const { return selectedPortPath_; }
    void setSelectedPortPath(const QString& path);
    bool isConnected() const { return isConnected_; }
    bool isLinkUp() const override { return isConnected_; }
    QString connectionStatus() const { return connectionStatus_; }
    const std::optional<USBSerialPort>& connectedPort() const { return connectedPort_; }
    // Ports that exist but could not be opened, each with what to do about it.
    QStringList accessProblems() const { return accessProblems_; }

    Q_INVOKABLE void refreshPorts();
    // Connects to the listed port with `portId`, the selected one when none is given, or the
    // first listed one when that id is not listed.
    void connect(const std::optional<QString>& portId = std::nullopt);
    Q_INVOKABLE void connectSelected() { connect(); }
    // Opens `path` as a serial line even when the listing does not show it (any terminal).
    void connectSerialPath(const QString& path);
    // A serial target opens its path; a USB target refreshes the list and connects the port
    // once the list has it.
    void connectTo(const Target& target) override;
    // The link is down at once; the line is closed on the I/O thread after every write queued
    // before.
    Q_INVOKABLE void disconnect() override;
    void sendData(const protocol::Bytes& bytes, DeliveryHandler onReport = {},
                  bool reportSuccess = false, ProgressHandler onProgress = {}) override;

signals:
    void availablePortsChanged();
    void selectedPortPathChanged();
    void isConnectedChanged();
    void connectionStatusChanged();
    void accessProblemsChanged();
    // A refresh has published its result.
    void portsRefreshed();

private:
    struct IoSide;

    // Runs `work` on the main thread, in the order posted; callable from the I/O thread.
    void postToMain(std::function<void()> work);
    Q_INVOKABLE void runPostedWork();

    // Ends the link there is and opens `port` (a connect attempt of its own).
    void open(const USBSerialPort& port);
    // Opens `port` for the connect attempt already begun.
    void startOpen(const USBSerialPort& port);
    void publishPorts(const PortEnumeration& found);
    void markConnected(const USBSerialPort& port);
    void setIsConnected(bool connected);
    void setConnectionStatus(const QString& status);
    void finishSend(const std::optional<QString>& error, const QString& successText,
                    const DeliveryReport& report, const DeliveryHandler& onReport);

    std::vector<USBSerialPort> availablePorts_;
    QString selectedPortPath_;
    bool isConnected_ = false;
    QString connectionStatus_ = QStringLiteral("Not Connected");
    QStringList accessProblems_;
    std::optional<USBSerialPort> connectedPort_;
    // Each connect and disconnect starts a new attempt; an open that finishes for an older one
    // is void (its line was already closed by the disconnect that came after it).
    quint64 attempt_ = 0;
    // The port a connectTo waits for the list to show.
    std::optional<QString> awaitedPort_;
    UsbRoutes routes_;
    std::shared_ptr<IoSide> io_;
    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;
    bool wakePending_ = false;
    std::unique_ptr<IoQueue> ioQueue_; // last: its thread ends before the rest goes
};

} // namespace connection
