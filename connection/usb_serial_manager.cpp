#include "connection/usb_serial_manager.hpp"

#include "connection/usb/device_access.hpp"
#include "connection/usb/io_queue.hpp"
#include "connection/usb/serial_line.hpp"

#include <QCollator>
#include <QMetaObject>
#include <QSet>
#include <algorithm>

namespace connection {

// What only the I/O thread touches: the open serial line.
struct USBSerialManager::IoSide {
    int fileDescriptor = -1;
};

namespace {

const QString kNotConnected = QStringLiteral("USB printer not connected");

QString statusForCount(std::size_t count) {
    if (count == 0) {
        return QStringLiteral("No USB printer found — check the cable");
    }
    if (count == 1) {
        return QStringLiteral("1 USB printer ready");
    }
    return QString::number(count) + QStringLiteral(" USB printers ready");
}

QString problemLine(const UnavailablePort& port) {
    QString line = port.path + QStringLiteral(": ") + qt_error_string(port.error);
    if (!port.advice.isEmpty()) {
        line += QStringLiteral(". ") + port.advice;
    }
    return line;
}

} // namespace

UsbRoutes UsbRoutes::system(const CupsPrograms& programs) {
    return UsbRoutes{
        &USBPrinterBulk::listPrinterClassDevices,
        [programs] { return listLpinfoPrinters(programs); },
        &listSerialPorts,
        [programs](const USBSerialPort& port, const protocol::Bytes& bytes) {
            return connection::sendToPrinterClass(port, bytes, programs);
        },
    };
}

PortEnumeration enumeratePorts(const UsbRoutes& routes) {
    PortEnumeration found;
    std::vector<USBSerialPort> listed;
    for (const USBPrinterBulkDevice& device : routes.printerClassDevices()) {
        listed.push_back(USBSerialPort{QStringLiteral("bulk:") + device.deviceId(),
                                       device.displayName(), USBSerialPort::Kind::printerClass,
                                       device.vendorId(), device.productId(), device.serial()});
    }
    if (listed.empty()) {
        // lpinfo asks cupsd and every backend; it is only worth its time when the bus showed
        // nothing directly.
        std::ranges::move(routes.lpinfoPrinters(), std::back_inserter(listed));
    }
    SerialListing serial = routes.serialPorts();
    std::ranges::move(serial.ports, std::back_inserter(listed));
    found.unavailable = std::move(serial.unavailable);

    QSet<QString> seen;
    for (USBSerialPort& port : listed) {
        if (!seen.contains(port.id)) {
            seen.insert(port.id);
            found.ports.push_back(std::move(port));
        }
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::ranges::stable_sort(found.ports,
                             [&collator](const USBSerialPort& a, const USBSerialPort& b) {
                                 return collator.compare(a.name, b.name) < 0;
                             });
    return found;
}

USBSerialManager::USBSerialManager(QObject* parent, UsbRoutes routes)
    : ManagerAlert(parent), routes_(std::move(routes)), io_(std::make_shared<IoSide>()),
      ioQueue_(std::make_unique<IoQueue>("usb-io")) {}

USBSerialManager::~USBSerialManager() {
    // Results of tasks still running are posted to this object; the thread ends before it does.
    ioQueue_->runAndWait([io = io_] {
        serial::closeLine(io->fileDescriptor);
        io->fileDescriptor = -1;
    });
    ioQueue_.reset();
}

void USBSerialManager::setSelectedPortPath(const QString& path) {
    if (path != selectedPortPath_) {
        selectedPortPath_ = path;
        emit selectedPortPathChanged();
    }
}

void USBSerialManager::setIsConnected(bool connected) {
    if (connected != isConnected_) {
        isConnected_ = connected;
        emit isConnectedChanged();
    }
}

void USBSerialManager::setConnectionStatus(const QString& status) {
    if (status != connectionStatus_) {
        connectionStatus_ = status;
        emit connectionStatusChanged();
    }
}

void USBSerialManager::refreshPorts() {
    ioQueue_->post([this, routes = routes_] {
        PortEnumeration found = enumeratePorts(routes);
        QMetaObject::invokeMethod(
            this, [this, found = std::move(found)] { publishPorts(found); }, Qt::QueuedConnection);
    });
}

void USBSerialManager::publishPorts(const PortEnumeration& found) {
    if (availablePorts_ != found.ports) {
        availablePorts_ = found.ports;
        emit availablePortsChanged();
    }
    const bool selectionListed =
        std::ranges::any_of(availablePorts_, [this](const USBSerialPort& port) {
            return port.id == selectedPortPath_;
        });
    if (selectedPortPath_.isEmpty() || !selectionListed) {
        setSelectedPortPath(availablePorts_.empty() ? QString() : availablePorts_.front().id);
    }
    if (!isConnected_) {
        setConnectionStatus(statusForCount(availablePorts_.size()));
    }
    QStringList problems;
    for (const UnavailablePort& port : found.unavailable) {
        problems.append(problemLine(port));
    }
    if (problems != accessProblems_) {
        accessProblems_ = problems;
        emit accessProblemsChanged();
    }
    emit portsRefreshed();
}

void USBSerialManager::connect(const std::optional<QString>& portId) {
    const QString wanted = portId.value_or(selectedPortPath_);
    auto port = std::ranges::find(availablePorts_, wanted, &USBSerialPort::id);
    if (port == availablePorts_.end()) {
        port = availablePorts_.begin();
    }
    if (port == availablePorts_.end()) {
        showError(QStringLiteral("Please select a USB printer"));
        emit connectFinished(false);
        return;
    }
    open(*port);
}

void USBSerialManager::connectSerialPath(const QString& path) {
    open(USBSerialPort{path,
                       QStringLiteral("USB Serial (%1)").arg(path.section(QLatin1Char('/'), -1)),
                       USBSerialPort::Kind::serialCDC, 0, 0, QString()});
}

void USBSerialManager::open(const USBSerialPort& port) {
    disconnect();
    setConnectionStatus(QStringLiteral("Connecting…"));
    const quint64 attempt = attempt_;
    ioQueue_->post([this, io = io_, port, attempt] {
        const auto postConnected = [this, port, attempt] {
            QMetaObject::invokeMethod(
                this,
                [this, port, attempt] {
                    if (attempt == attempt_) {
                        markConnected(port);
                    }
                },
                Qt::QueuedConnection);
        };
        if (port.kind == USBSerialPort::Kind::printerClass) {
            // Nothing to open: every send opens the interface itself.
            postConnected();
            return;
        }
        const serial::OpenResult opened = serial::openLine(port.id);
        if (opened.fd >= 0) {
            io->fileDescriptor = opened.fd;
            postConnected();
            return;
        }
        QString message =
            QStringLiteral("Cannot open USB serial:\n") + qt_error_string(opened.error);
        if (const QString advice =
                access::serialOpenAdvice(opened.error, access::factsFor(port.id));
            !advice.isEmpty()) {
            message += QStringLiteral("\n\n") + advice;
        }
        QMetaObject::invokeMethod(
            this,
            [this, message, attempt] {
                if (attempt != attempt_) {
                    return;
                }
                setConnectionStatus(QStringLiteral("Open failed"));
                showError(message);
                emit connectFinished(false);
            },
            Qt::QueuedConnection);
    });
}

void USBSerialManager::markConnected(const USBSerialPort& port) {
    connectedPort_ = port;
    setSelectedPortPath(port.id);
    setIsConnected(true);
    setConnectionStatus(QStringLiteral("Connected · ") + port.name);
    emit connectFinished(true);
}

void USBSerialManager::disconnect() {
    ++attempt_;
    // Waiting here lets a write in progress finish before its line is closed.
    ioQueue_->runAndWait([io = io_] {
        if (io->fileDescriptor >= 0) {
            serial::closeLine(io->fileDescriptor);
            io->fileDescriptor = -1;
        }
    });
    connectedPort_.reset();
    setIsConnected(false);
    setConnectionStatus(availablePorts_.empty() ? QStringLiteral("Not Connected")
                                                : QStringLiteral("Disconnected"));
}

void USBSerialManager::sendData(const protocol::Bytes& bytes, bool reportSuccess) {
    if (!isConnected_ || !connectedPort_) {
        showError(kNotConnected);
        emit sendFinished(kNotConnected);
        return;
    }
    ioQueue_->post(
        [this, io = io_, routes = routes_, port = *connectedPort_, bytes, reportSuccess] {
            std::optional<QString> error;
            QString successText;
            if (port.kind == USBSerialPort::Kind::printerClass) {
                error = routes.sendToPrinterClass(port, bytes);
                successText = QStringLiteral(
                    "USB test data sent. If nothing prints, check paper/cover and try again.");
            } else {
                error = serial::writeAll(io->fileDescriptor, bytes);
                successText = QStringLiteral("USB test data sent.");
            }
            if (!reportSuccess) {
                successText.clear();
            }
            QMetaObject::invokeMethod(
                this, [this, error, successText] { finishSend(error, successText); },
                Qt::QueuedConnection);
        });
}

void USBSerialManager::finishSend(const std::optional<QString>& error, const QString& successText) {
    if (error) {
        showError(*error);
    } else if (!successText.isEmpty()) {
        showError(successText);
    }
    emit sendFinished(error.value_or(QString()));
}

} // namespace connection
