#include "tools/printerctl/transport_send.hpp"

#include "connection/bluetooth_manager.hpp"
#include "connection/console.hpp"
#include "connection/network_manager.hpp"
#include "connection/send_over_connection.hpp"
#include "connection/usb_serial_manager.hpp"
#include "protocol/frame.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <initializer_list>

#include <cstdio>
#include <iostream>

namespace printerctl {

namespace {

constexpr const char* kDefaultPort = "9100";
// A printer advertises every few hundred milliseconds; a scan of this length sees it.
constexpr std::chrono::milliseconds kBleScanLimit{15'000};
constexpr std::chrono::milliseconds kBleReadyLimit{10'000};

struct Target {
    QString host;
    QString port;
};

Target splitTarget(const std::string& target) {
    const auto colon = target.rfind(':');
    if (colon == std::string::npos) {
        return {QString::fromStdString(target), QString::fromLatin1(kDefaultPort)};
    }
    return {QString::fromStdString(target.substr(0, colon)),
            QString::fromStdString(target.substr(colon + 1))};
}

// One run: connect, send every command at its time, wait for the bytes to be delivered,
// disconnect.
class SendSession {
public:
    explicit SendSession(const SendRequest& request)
        : request_(request), bluetooth_(nullptr, request.transport == Transport::ble
                                                     ? connection::makeSystemBleCentral()
                                                     : connection::makeInactiveBleCentral()) {
        for (connection::ManagerAlert* manager :
             std::initializer_list<connection::ManagerAlert*>{&network_, &usb_, &bluetooth_}) {
            QObject::connect(manager, &connection::ManagerAlert::showAlertChanged, manager,
                             [this, manager] {
                                 if (manager->showAlert()) {
                                     fail(manager->alertMessage());
                                 }
                             });
        }
        QObject::connect(&network_, &connection::NetworkManager::isConnectedChanged, &network_,
                         [this] { startWhen(network_.isConnected()); });
        QObject::connect(&network_, &connection::NetworkManager::allDataWritten, &network_,
                         [this] { finishWhenDelivered(); });
        QObject::connect(&usb_, &connection::USBSerialManager::connectFinished, &usb_,
                         [this](bool connected) { startWhen(connected); });
        QObject::connect(&usb_, &connection::USBSerialManager::sendFinished, &usb_,
                         [this](const QString& error) {
                             if (!error.isEmpty()) {
                                 fail(error);
                                 return;
                             }
                             ++delivered_;
                             finishWhenDelivered();
                         });
        QObject::connect(&usb_, &connection::USBSerialManager::portsRefreshed, &usb_,
                         [this] { connectListedUsbPort(); });
        connectBluetoothSignals();
    }

    int run(const Target& target) {
        const QString where = QString::fromStdString(request_.target);
        switch (request_.transport) {
        case Transport::tcp:
            type_ = connection::ConnectionType::network;
            network_.connect(target.host, target.port);
            break;
        case Transport::serial:
            type_ = connection::ConnectionType::usb;
            usb_.connectSerialPath(where);
            break;
        case Transport::usb:
            type_ = connection::ConnectionType::usb;
            usb_.refreshPorts();
            break;
        default:
            // The radio's first state report starts a scan; the printer is connected once the
            // scan sees it.
            type_ = connection::ConnectionType::bluetooth;
            break;
        }
        return QCoreApplication::exec();
    }

private:
    void connectBluetoothSignals() {
        using connection::BluetoothManager;
        const QString wanted = QString::fromStdString(request_.target).toUpper();
        QObject::connect(
            &bluetooth_, &BluetoothManager::discoveredDevicesChanged, &bluetooth_, [this, wanted] {
                if (linkRequested_) {
                    return;
                }
                for (const auto& device : bluetooth_.discoveredDevices()) {
                    if (device.identifier.toUpper() == wanted) {
                        linkRequested_ = true;
                        bluetooth_.connect(device);
                        // The manager gives up after its own 5 s; discovering the
                        // services may take a few seconds more.
                        QTimer::singleShot(kBleReadyLimit, &bluetooth_, [this] {
                            if (!started_) {
                                fail(QStringLiteral("printerctl: %1 offered no "
                                                    "writable characteristic")
                                         .arg(QString::fromStdString(request_.target)));
                            }
                        });
                    }
                }
            });
        QObject::connect(&bluetooth_, &BluetoothManager::writeCharacteristicReady, &bluetooth_,
                         [this] { startWhen(true); });
        QObject::connect(&bluetooth_, &BluetoothManager::allWritesConfirmed, &bluetooth_,
                         [this] { finishWhenDelivered(); });
        QObject::connect(
            &bluetooth_, &BluetoothManager::writeFailed, &bluetooth_,
            [this](const QString& error) { fail(QStringLiteral("Write failed: ") + error); });
        QObject::connect(&bluetooth_, &BluetoothManager::radioStateReported, &bluetooth_, [this] {
            if (request_.transport != Transport::ble) {
                return;
            }
            QTimer::singleShot(kBleScanLimit, &bluetooth_, [this] {
                if (!linkRequested_) {
                    fail(QStringLiteral("printerctl: no printer %1 seen by a %2 s scan")
                             .arg(QString::fromStdString(request_.target))
                             .arg(kBleScanLimit.count() / 1000));
                }
            });
        });
    }

    void connectListedUsbPort() {
        const QString wanted = QString::fromStdString(request_.target);
        const auto& ports = usb_.availablePorts();
        if (std::ranges::find(ports, wanted, &connection::USBSerialPort::id) == ports.end()) {
            fail(QStringLiteral("printerctl: no USB port \"%1\"; 'printerctl list usb' shows "
                                "the ports")
                     .arg(wanted));
            return;
        }
        usb_.connect(wanted);
    }

    void startWhen(bool connected) {
        if (connected && !started_) {
            started_ = true;
            for (std::size_t i = 0; i < request_.commands.size(); ++i) {
                QTimer::singleShot(request_.commands[i].delayMs, &network_, [this, i] { send(i); });
            }
        }
    }

    void send(std::size_t index) {
        if (finished_) {
            return;
        }
        const auto& command = request_.commands[index];
        const auto log = [&] {
            if (!command.logPrefix.empty()) {
                connection::consoleLine(protocol::hexDumpLine(command.logPrefix, command.bytes));
            }
        };
        if (command.logBeforeSending) {
            log();
        }
        connection::sendOverConnection(type_, network_, bluetooth_, usb_, command.bytes, false);
        if (!command.logBeforeSending) {
            log();
        }
        ++sent_;
        finishWhenDelivered();
    }

    // TCP is done when its bytes reached the stack; USB when each send was confirmed; Bluetooth
    // when every write was confirmed.
    void finishWhenDelivered() {
        if (sent_ != request_.commands.size()) {
            return;
        }
        bool delivered = false;
        switch (type_) {
        case connection::ConnectionType::network:
            delivered = !network_.hasPendingWrites();
            break;
        case connection::ConnectionType::bluetooth:
            delivered = !bluetooth_.hasPendingWrites();
            break;
        case connection::ConnectionType::usb:
            delivered = delivered_ == sent_;
            break;
        }
        if (delivered) {
            finish(0);
        }
    }

    void fail(const QString& message) {
        if (!finished_) {
            std::cerr << message.toStdString() << std::endl;
        }
        finish(1);
    }

    void finish(int code) {
        if (finished_) {
            return;
        }
        finished_ = true;
        network_.disconnect();
        usb_.disconnect();
        bluetooth_.disconnect();
        // Let the alert or console lines already posted come out before leaving.
        QTimer::singleShot(0, &network_, [code] { QCoreApplication::exit(code); });
    }

    const SendRequest& request_;
    connection::ConnectionType type_ = connection::ConnectionType::network;
    connection::NetworkManager network_;
    connection::BluetoothManager bluetooth_;
    connection::USBSerialManager usb_;
    bool linkRequested_ = false;
    bool started_ = false;
    bool finished_ = false;
    std::size_t sent_ = 0;
    std::size_t delivered_ = 0;
};

} // namespace

int sendRequest(const SendRequest& request) {
    Target target;
    if (request.transport == Transport::tcp) {
        target = splitTarget(request.target);
        if (const auto error =
                connection::NetworkManager::validateEndpoint(target.host, target.port)) {
            std::cerr << "printerctl: --tcp " << request.target << ": " << error->toStdString()
                      << std::endl;
            return 2;
        }
    }
    int argc = 1;
    char name[] = "printerctl";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    SendSession session(request);
    return session.run(target);
}

int listUsbPorts() {
    int argc = 1;
    char name[] = "printerctl";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    connection::USBSerialManager usb;
    QObject::connect(&usb, &connection::USBSerialManager::portsRefreshed, &usb, [&usb] {
        for (const auto& port : usb.availablePorts()) {
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04x:%04x", port.vendorId, port.productId);
            std::cout << port.id.toStdString() << '\t' << port.name.toStdString() << '\t'
                      << connection::rawValue(port.kind).toStdString() << '\t' << ids << '\t'
                      << port.serial.toStdString() << '\n';
        }
        for (const QString& problem : usb.accessProblems()) {
            std::cerr << "printerctl: " << problem.toStdString() << '\n';
        }
        if (usb.availablePorts().empty()) {
            std::cerr << usb.connectionStatus().toStdString() << '\n';
        }
        std::cout.flush();
        QCoreApplication::exit(0);
    });
    usb.refreshPorts();
    return QCoreApplication::exec();
}

int listBlePrinters(int seconds) {
    int argc = 1;
    char name[] = "printerctl";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // The scan's own lines would mix with the list: they go to standard error.
    connection::setConsoleSink([](std::string_view line) { std::cerr << line << std::endl; });
    connection::BluetoothManager bluetooth;
    bluetooth.setTimings(
        {std::chrono::seconds(seconds), std::chrono::seconds(5), std::chrono::milliseconds(500)});
    QObject::connect(&bluetooth, &connection::ManagerAlert::showAlertChanged, &bluetooth, [&] {
        if (bluetooth.showAlert()) {
            std::cerr << bluetooth.alertMessage().toStdString() << std::endl;
            QCoreApplication::exit(1);
        }
    });
    QObject::connect(&bluetooth, &connection::BluetoothManager::radioStateReported, &bluetooth,
                     [&](connection::RadioState state) {
                         if (state != connection::RadioState::poweredOn) {
                             return;
                         }
                         QTimer::singleShot(std::chrono::seconds(seconds), &bluetooth, [&] {
                             for (const auto& device : bluetooth.discoveredDevices()) {
                                 std::cout << device.identifier.toStdString() << '\t'
                                           << device.displayName().toStdString() << '\t'
                                           << bluetooth.deviceRSSI().value(device.identifier)
                                           << '\n';
                             }
                             std::cout.flush();
                             QCoreApplication::exit(0);
                         });
                     });
    return QCoreApplication::exec();
}

} // namespace printerctl
