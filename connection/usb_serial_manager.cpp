#include "connection/usb_serial_manager.hpp"

#include "connection/usb/device_access.hpp"
#include "connection/usb/io_queue.hpp"
#include "connection/usb/serial_line.hpp"

#include <QCollator>
#include <QMetaObject>
#include <QSet>
#include <algorithm>
#include <cerrno>

namespace connection {

// What only the I/O thread touches: the open serial line.
struct USBSerialManager::IoSide {
    int fileDescriptor = -1;
    QString heldPath; // the line's path while it is open

    // Every send reported delivered has left the driver (writeAll waits for that); what is still
    // queued belongs to a failed send, and a close must not wait for a printer that takes nothing.
    void close() {
        serial::closeLine(fileDescriptor, true);
        fileDescriptor = -1;
        heldPath.clear();
    }
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
        [programs](std::stop_token stop) { return listLpinfoPrinters(programs, std::move(stop)); },
        [](const QString& heldPath) { return listSerialPorts(heldPath); },
        [programs](const USBSerialPort& port, const protocol::Bytes& bytes,
                   const BulkLimits& limits) {
            return connection::sendToPrinterClass(port, bytes, programs, limits);
        },
    };
}

PortEnumeration enumeratePorts(const UsbRoutes& routes, const QString& heldPath,
                               std::stop_token stop) {
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
        std::ranges::move(routes.lpinfoPrinters(std::move(stop)), std::back_inserter(listed));
    }
    SerialListing serial = routes.serialPorts(heldPath);
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
    : Transport(parent), routes_(std::move(routes)), io_(std::make_shared<IoSide>()),
      ioQueue_(std::make_unique<IoQueue>("usb-io")) {}

USBSerialManager::~USBSerialManager() {
    // Stops the task in progress and joins the thread: nothing runs on it after this line, and
    // whatever it posted to this object is dropped with the object.
    ioQueue_.reset();
    io_->close();
}

void USBSerialManager::postToMain(std::function<void()> work) {
    // The work itself travels under a lock ThreadSanitizer can see; the event that wakes the main
    // thread carries nothing of ours (Qt's own hand-off happens in code it cannot see into).
    bool wake = false;
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(work));
        wake = !wakePending_;
        wakePending_ = true;
    }
    if (wake) {
        QMetaObject::invokeMethod(this, "runPostedWork", Qt::QueuedConnection);
    }
}

void USBSerialManager::runPostedWork() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(postedMutex_);
        work.swap(posted_);
        wakePending_ = false;
    }
    for (auto& item : work) {
        item();
    }
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
        emit linkUpChanged();
    }
}

void USBSerialManager::setConnectionStatus(const QString& status) {
    if (status != connectionStatus_) {
        connectionStatus_ = status;
        emit connectionStatusChanged();
    }
}

void USBSerialManager::refreshPorts() {
    ioQueue_->post([this, io = io_, routes = routes_, stop = ioQueue_->stopToken()] {
        PortEnumeration found = enumeratePorts(routes, io->heldPath, stop);
        postToMain([this, found = std::move(found)] { publishPorts(found); });
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
    if (const auto wanted = std::exchange(awaitedPort_, std::nullopt)) {
        const auto port = std::ranges::find(availablePorts_, *wanted, &USBSerialPort::id);
        if (port == availablePorts_.end()) {
            const QString text = QStringLiteral("No USB port \"%1\" is attached").arg(*wanted);
            showError(text);
            endConnect(false, text);
        } else {
            startOpen(*port);
        }
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
        const QString text = QStringLiteral("Please select a USB printer");
        beginConnect();
        showError(text);
        endConnect(false, text);
        return;
    }
    open(*port);
}

void USBSerialManager::connectSerialPath(const QString& path) {
    open(USBSerialPort{path,
                       QStringLiteral("USB Serial (%1)").arg(path.section(QLatin1Char('/'), -1)),
                       USBSerialPort::Kind::serialCDC, 0, 0, QString()});
}

void USBSerialManager::connectTo(const Target& target) {
    if (target.kind == Target::Kind::serial) {
        connectSerialPath(target.address);
        return;
    }
    disconnect();
    beginConnect();
    awaitedPort_ = target.address;
    refreshPorts();
}

void USBSerialManager::open(const USBSerialPort& port) {
    disconnect();
    beginConnect();
    startOpen(port);
}

void USBSerialManager::startOpen(const USBSerialPort& port) {
    setConnectionStatus(QStringLiteral("Connecting…"));
    const quint64 attempt = attempt_;
    ioQueue_->post([this, io = io_, port, attempt] {
        const auto postConnected = [this, port, attempt] {
            postToMain([this, port, attempt] {
                if (attempt == attempt_) {
                    markConnected(port);
                }
            });
        };
        if (port.kind == USBSerialPort::Kind::printerClass) {
            // Nothing to open: every send opens the interface itself.
            postConnected();
            return;
        }
        const serial::OpenResult opened = serial::openLine(port.id);
        if (opened.fd >= 0) {
            io->fileDescriptor = opened.fd;
            io->heldPath = port.id;
            postConnected();
            return;
        }
        QString message =
            QStringLiteral("Cannot open USB serial:\n") +
            (opened.error == ENOTTY
                 ? QStringLiteral("%1 is not a serial line (a terminal device)").arg(port.id)
                 : qt_error_string(opened.error));
        if (const QString advice =
                access::serialOpenAdvice(opened.error, access::factsFor(port.id));
            !advice.isEmpty()) {
            message += QStringLiteral("\n\n") + advice;
        }
        postToMain([this, message, attempt] {
            if (attempt != attempt_) {
                return;
            }
            setConnectionStatus(QStringLiteral("Open failed"));
            showError(message);
            endConnect(false, message);
        });
    });
}

void USBSerialManager::markConnected(const USBSerialPort& port) {
    connectedPort_ = port;
    setSelectedPortPath(port.id);
    setIsConnected(true);
    setConnectionStatus(QStringLiteral("Connected · ") + port.name);
    endConnect(true);
}

void USBSerialManager::disconnect() {
    awaitedPort_.reset();
    endConnect(false, QStringLiteral("Connection cancelled"));
    ++attempt_;
    // Queued behind every write handed over before, so they still go out; nothing waits here.
    ioQueue_->post([io = io_] { io->close(); });
    connectedPort_.reset();
    setIsConnected(false);
    setConnectionStatus(availablePorts_.empty() ? QStringLiteral("Not Connected")
                                                : QStringLiteral("Disconnected"));
}

void USBSerialManager::sendData(const protocol::Bytes& bytes, DeliveryHandler onReport,
                                bool reportSuccess, ProgressHandler onProgress) {
    const auto total = static_cast<qint64>(bytes.size());
    if (!isConnected_ || !connectedPort_) {
        showError(kNotConnected);
        if (onReport) {
            postToMain([onReport = std::move(onReport), total] {
                onReport(DeliveryReport::failure(kNotConnected, 0, total));
            });
        }
        return;
    }
    BulkLimits limits{noProgressLimit(), ioQueue_->stopToken()};
    if (onProgress) {
        // At most a few reports a second reach the main thread, whatever the device's pace.
        limits.progress = [this, onProgress, total, last = std::chrono::steady_clock::time_point{}](
                              std::size_t taken) mutable {
            const auto now = std::chrono::steady_clock::now();
            if (now - last >= std::chrono::milliseconds(100)) {
                last = now;
                postToMain(
                    [onProgress, total, taken] { onProgress(static_cast<qint64>(taken), total); });
            }
        };
    }
    ioQueue_->post([this, io = io_, routes = routes_, port = *connectedPort_, bytes, reportSuccess,
                    limits, onReport = std::move(onReport)]() mutable {
        std::optional<QString> error;
        std::size_t sent = 0;
        QString successText;
        if (port.kind == USBSerialPort::Kind::printerClass) {
            const SendResult result = routes.sendToPrinterClass(port, bytes, limits);
            error = result.error;
            sent = result.bytesSent;
            successText = QStringLiteral(
                "USB test data sent. If nothing prints, check paper/cover and try again.");
        } else {
            const serial::WriteResult result = serial::writeAll(
                io->fileDescriptor, bytes, {limits.noProgress, limits.stop, limits.progress});
            error = result.error;
            sent = result.written;
            successText = QStringLiteral("USB test data sent.");
        }
        if (!reportSuccess) {
            successText.clear();
        }
        const auto total = static_cast<qint64>(bytes.size());
        const DeliveryReport report =
            error ? DeliveryReport::failure(*error, static_cast<qint64>(sent), total)
                  : DeliveryReport::success(total);
        postToMain([this, error, successText, report, onReport = std::move(onReport)] {
            finishSend(error, successText, report, onReport);
        });
    });
}

void USBSerialManager::finishSend(const std::optional<QString>& error, const QString& successText,
                                  const DeliveryReport& report, const DeliveryHandler& onReport) {
    if (error) {
        showError(*error);
    } else if (!successText.isEmpty()) {
        showError(successText);
    }
    if (onReport) {
        onReport(report);
    }
}

} // namespace connection
