#include "tools/printerctl/transport_send.hpp"

#include "connection/console.hpp"
#include "connection/transports.hpp"
#include "plans/plan_run.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace printerctl {

namespace {

using connection::ConnectionType;

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

ConnectionType typeOf(Transport transport) {
    switch (transport) {
    case Transport::tcp:
        return ConnectionType::network;
    case Transport::ble:
        return ConnectionType::bluetooth;
    default:
        return ConnectionType::usb;
    }
}

// One run: connect, run the plan once the link can carry it, wait for every step's delivery
// report, disconnect.
class SendSession {
public:
    explicit SendSession(const SendRequest& request)
        : request_(request), type_(typeOf(request.transport)),
          transports_(request.transport == Transport::ble ? connection::makeSystemBleCentral()
                                                          : connection::makeInactiveBleCentral()) {
        // Any alert ends the run: a refused connection, a time-out, a failed send.
        for (const auto type : connection::kAllConnectionTypes) {
            connection::Transport* transport = &transports_[type];
            QObject::connect(transport, &connection::ManagerAlert::showAlertChanged, transport,
                             [this, transport] {
                                 if (transport->showAlert()) {
                                     fail(transport->alertMessage());
                                 }
                             });
        }
        auto& network = transports_.network();
        QObject::connect(&network, &connection::NetworkManager::isConnectedChanged, &network,
                         [this, &network] { startWhen(network.isConnected()); });
        auto& usb = transports_.usb();
        QObject::connect(&usb, &connection::USBSerialManager::connectFinished, &usb,
                         [this](bool connected) { startWhen(connected); });
        QObject::connect(&usb, &connection::USBSerialManager::portsRefreshed, &usb,
                         [this] { connectListedUsbPort(); });
        connectBluetoothSignals();
    }

    int run(const Target& target) {
        switch (request_.transport) {
        case Transport::tcp:
            transports_.network().connect(target.host, target.port);
            break;
        case Transport::serial:
            transports_.usb().connectSerialPath(QString::fromStdString(request_.target));
            break;
        case Transport::usb:
            transports_.usb().refreshPorts();
            break;
        default:
            // The radio's first state report starts a scan; the printer is connected once the
            // scan sees it.
            break;
        }
        return QCoreApplication::exec();
    }

private:
    void connectBluetoothSignals() {
        using connection::BluetoothManager;
        auto& bluetooth = transports_.bluetooth();
        const QString wanted = QString::fromStdString(request_.target).toUpper();
        QObject::connect(
            &bluetooth, &BluetoothManager::discoveredDevicesChanged, &bluetooth,
            [this, wanted, &bluetooth] {
                if (linkRequested_) {
                    return;
                }
                for (const auto& device : bluetooth.discoveredDevices()) {
                    if (device.identifier.toUpper() == wanted) {
                        linkRequested_ = true;
                        bluetooth.connect(device);
                        // The manager gives up after its own 5 s; discovering the services may
                        // take a few seconds more.
                        QTimer::singleShot(kBleReadyLimit, &bluetooth, [this] {
                            if (!started_) {
                                fail(QStringLiteral("printerctl: %1 offered no writable "
                                                    "characteristic")
                                         .arg(QString::fromStdString(request_.target)));
                            }
                        });
                    }
                }
            });
        QObject::connect(&bluetooth, &BluetoothManager::writeCharacteristicReady, &bluetooth,
                         [this] { startWhen(true); });
        QObject::connect(&bluetooth, &BluetoothManager::radioStateReported, &bluetooth, [this] {
            if (request_.transport != Transport::ble) {
                return;
            }
            QTimer::singleShot(kBleScanLimit, &transports_.bluetooth(), [this] {
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
        const auto& ports = transports_.usb().availablePorts();
        if (std::ranges::find(ports, wanted, &connection::USBSerialPort::id) == ports.end()) {
            fail(QStringLiteral("printerctl: no USB port \"%1\"; 'printerctl list usb' shows "
                                "the ports")
                     .arg(wanted));
            return;
        }
        transports_.usb().connect(wanted);
    }

    void startWhen(bool connected) {
        if (!connected || started_) {
            return;
        }
        started_ = true;
        plans::Plan plan = request_.plan;
        // Success is the exit status here: the USB manager's confirmation alert would read as a
        // failure.
        for (auto& step : plan.steps) {
            step.reportSuccess = false;
        }
        auto* run = new plans::PlanRun(std::move(plan), &transports_[type_]);
        QObject::connect(run, &plans::PlanRun::stepRefused, run,
                         [this](int, const QString& message) { fail(message); });
        QObject::connect(run, &plans::PlanRun::stepReported, run,
                         [this](int, const connection::DeliveryReport& report) {
                             if (!report.delivered) {
                                 fail(report.error);
                             }
                         });
        QObject::connect(run, &plans::PlanRun::finished, run, [this] { finish(0); });
        // After the link's own report has been handled in full (its console line first).
        QTimer::singleShot(0, run, &plans::PlanRun::start);
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
        for (const auto type : connection::kAllConnectionTypes) {
            transports_[type].disconnect();
        }
        // Let the alert or console lines already posted come out before leaving.
        QTimer::singleShot(0, &transports_.network(), [code] { QCoreApplication::exit(code); });
    }

    const SendRequest& request_;
    ConnectionType type_;
    connection::Transports transports_;
    bool linkRequested_ = false;
    bool started_ = false;
    bool finished_ = false;
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
