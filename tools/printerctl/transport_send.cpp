#include "tools/printerctl/tcp_send.hpp"

#include "connection/bluetooth_manager.hpp"
#include "connection/console.hpp"
#include "connection/network_manager.hpp"
#include "connection/send_over_connection.hpp"
#include "connection/usb_serial_manager.hpp"
#include "protocol/frame.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <iostream>

namespace printerctl {

namespace {

constexpr const char* kDefaultPort = "9100";

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

// One run: connect, send every command at its time, wait for the bytes to leave, disconnect.
class TcpSession {
public:
    TcpSession(const SendRequest& request, Target target)
        : request_(request), target_(std::move(target)) {
        QObject::connect(&network_, &connection::ManagerAlert::showAlertChanged, &network_, [this] {
            if (network_.showAlert()) {
                std::cerr << network_.alertMessage().toStdString() << std::endl;
                network_.setShowAlert(false);
                finish(1);
            }
        });
        QObject::connect(&network_, &connection::NetworkManager::isConnectedChanged, &network_,
                         [this] {
                             if (network_.isConnected() && !started_) {
                                 started_ = true;
                                 scheduleCommands();
                             }
                         });
        QObject::connect(&network_, &connection::NetworkManager::allDataWritten, &network_,
                         [this] { finishWhenWritten(); });
    }

    int run() {
        network_.connect(target_.host, target_.port);
        return QCoreApplication::exec();
    }

private:
    void scheduleCommands() {
        for (std::size_t i = 0; i < request_.commands.size(); ++i) {
            QTimer::singleShot(request_.commands[i].delayMs, &network_, [this, i] { send(i); });
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
        connection::sendOverConnection(connection::ConnectionType::network, network_, bluetooth_,
                                       usb_, command.bytes, false);
        if (!command.logBeforeSending) {
            log();
        }
        ++sent_;
        finishWhenWritten();
    }

    void finishWhenWritten() {
        if (sent_ == request_.commands.size() && !network_.hasPendingWrites()) {
            finish(0);
        }
    }

    void finish(int code) {
        if (finished_) {
            return;
        }
        finished_ = true;
        network_.disconnect();
        // Let the alert or console lines already posted come out before leaving.
        QTimer::singleShot(0, &network_, [code] { QCoreApplication::exit(code); });
    }

    const SendRequest& request_;
    Target target_;
    connection::NetworkManager network_;
    connection::BluetoothManager bluetooth_;
    connection::USBSerialManager usb_;
    bool started_ = false;
    bool finished_ = false;
    std::size_t sent_ = 0;
};

} // namespace

int sendOverTcp(const SendRequest& request) {
    Target target = splitTarget(request.target);
    if (const auto error = connection::NetworkManager::validateEndpoint(target.host, target.port)) {
        std::cerr << "printerctl: --tcp " << request.target << ": " << error->toStdString()
                  << std::endl;
        return 2;
    }
    int argc = 1;
    char name[] = "printerctl";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    TcpSession session(request, std::move(target));
    return session.run();
}

} // namespace printerctl
