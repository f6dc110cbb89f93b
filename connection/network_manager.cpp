#include "connection/network_manager.hpp"

#include "connection/console.hpp"
#include "protocol/number_text.hpp"
#include "protocol/parameter_commands.hpp"

#include <QHostAddress>
#include <QMetaObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <deque>

namespace connection {

// The bytes handed to one socket, and who waits to hear of them. It lives as long as its socket,
// also after the manager let go of it: a graceful close still reports on what was queued before.
class SocketDeliveries : public QObject {
public:
    explicit SocketDeliveries(QTcpSocket* socket) : QObject(socket) {
        QObject::connect(socket, &QIODevice::bytesWritten, this, [this](qint64 count) {
            written_ += count;
            settle();
        });
        QObject::connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
            failAll(QStringLiteral("Failed to send command: ") + socket->errorString());
        });
    }
    ~SocketDeliveries() override {
        failAll(QStringLiteral("Failed to send command: the connection closed before the bytes "
                               "were sent"));
    }
    SocketDeliveries(const SocketDeliveries&) = delete;
    SocketDeliveries& operator=(const SocketDeliveries&) = delete;

    void add(qint64 size, DeliveryHandler handler, ProgressHandler progress) {
        pending_.push_back({queued_, queued_ + size, std::move(handler), std::move(progress)});
        queued_ += size;
        if (size == 0) {
            // Nothing to wait for, but the report still comes after the caller has returned.
            QMetaObject::invokeMethod(
                this, [this] { settle(); }, Qt::QueuedConnection);
        }
    }

private:
    struct Pending {
        qint64 start;
        qint64 end;
        DeliveryHandler handler;
        ProgressHandler progress;
    };

    void settle() {
        // The send being written now has moved on.
        if (!pending_.empty() && pending_.front().progress && written_ > pending_.front().start &&
            written_ < pending_.front().end) {
            const Pending& current = pending_.front();
            current.progress(written_ - current.start, current.end - current.start);
        }
        while (!pending_.empty() && pending_.front().end <= written_) {
            Pending done = std::move(pending_.front());
            pending_.pop_front();
            if (done.handler) {
                done.handler(DeliveryReport::success(done.end - done.start));
            }
        }
    }
    void failAll(const QString& error) {
        while (!pending_.empty()) {
            Pending lost = std::move(pending_.front());
            pending_.pop_front();
            if (lost.handler) {
                const qint64 sent =
                    std::clamp(written_ - lost.start, qint64{0}, lost.end - lost.start);
                lost.handler(DeliveryReport::failure(error, sent, lost.end - lost.start));
            }
        }
    }

    std::deque<Pending> pending_;
    qint64 queued_ = 0;
    qint64 written_ = 0;
};

namespace {

// A report for bytes that never reached a socket, after the caller has returned.
void reportLater(QObject* context, DeliveryHandler handler, DeliveryReport report) {
    if (handler) {
        QMetaObject::invokeMethod(
            context, [handler = std::move(handler), report] { handler(report); },
            Qt::QueuedConnection);
    }
}

const QString kNotConnected = QStringLiteral("Not Connected");

// Four decimal fields 0-255, one to three digits each (leading zeros allowed), whole text.
const QRegularExpression& addressPattern() {
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}"
                       "(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)")));
    return pattern;
}

// The fields are read as decimal, as typed: "010" is ten (a C library would read it as octal).
// The text has passed addressPattern(), so it holds exactly four fields.
QHostAddress literalAddress(const QString& text) {
    quint32 address = 0;
    for (const auto byte : protocol::ipTextToBytes(text.toStdString())) {
        address = (address << 8) | byte;
    }
    return QHostAddress(address);
}

std::optional<quint16> portNumber(const QString& text) {
    const auto value = protocol::parseSignedDecimal(text.toStdString());
    if (!value || *value < 1 || *value > 65535) {
        return std::nullopt;
    }
    return static_cast<quint16>(*value);
}

} // namespace

NetworkManager::NetworkManager(QObject* parent)
    : Transport(parent), connectionStatus_(kNotConnected) {
    scheduler_ = [this](std::chrono::milliseconds delay, std::function<void()> check) {
        QTimer::singleShot(delay, this, std::move(check));
    };
}

NetworkManager::~NetworkManager() {
    if (socket_) {
        socket_->abort();
    }
}

std::optional<QString> NetworkManager::validateEndpoint(const QString& ipAddress,
                                                        const QString& port) {
    if (!addressPattern().match(ipAddress).hasMatch()) {
        return QStringLiteral("Invalid IP Address Format");
    }
    if (!portNumber(port)) {
        return QStringLiteral("Port must be between 1-65535");
    }
    return std::nullopt;
}

void NetworkManager::connect(const QString& ipAddress, const QString& port) {
    if (const auto error = validateEndpoint(ipAddress, port)) {
        showError(*error);
        return;
    }
    const auto portValue = portNumber(port);
    if (!portValue) { // cannot happen after validation; kept as the last guard before the socket
        showError(QStringLiteral("Invalid Port"));
        return;
    }

    // An attempt still pending is given up first; whatever it reports later is ignored.
    if (socket_) {
        cancelSocket();
    }
    const quint64 attempt = ++attempt_;
    attemptEnded_ = false;

    QMetaObject::invokeMethod(
        this, [this] { setConnectionStatus(QStringLiteral("Connecting...")); },
        Qt::QueuedConnection);

    auto* socket = new QTcpSocket(this);
    socket_ = socket;
    QObject::connect(socket, &QAbstractSocket::stateChanged, this,
                     [this, attempt](QAbstractSocket::SocketState state) {
                         if (state == QAbstractSocket::HostLookupState ||
                             state == QAbstractSocket::ConnectingState) {
                             postStateChange(attempt, State::preparing);
                         } else if (state == QAbstractSocket::ConnectedState) {
                             postStateChange(attempt, State::ready);
                         }
                     });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, this,
                     [this, attempt, socket](QAbstractSocket::SocketError) {
                         // Bytes still queued when the link breaks did not reach the printer:
                         // that is what the user is told last.
                         const bool bytesLost = socket->bytesToWrite() > 0;
                         const QString error = socket->errorString();
                         postStateChange(attempt, State::failed, error);
                         if (bytesLost) {
                             QMetaObject::invokeMethod(
                                 this,
                                 [this, attempt, error] {
                                     if (attempt == attempt_) {
                                         showError(QStringLiteral("Failed to send command: ") +
                                                   error);
                                     }
                                 },
                                 Qt::QueuedConnection);
                         }
                     });
    deliveries_ = new SocketDeliveries(socket);
    // Printers may answer with status bytes; nobody reads them, so drop them as they come.
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket] { socket->readAll(); });

    QPointer<NetworkManager> self(this);
    scheduler_(kDefaultConnectTimeout, [self, attempt] {
        if (self) {
            self->checkTimeout(attempt);
        }
    });
    socket->connectToHost(literalAddress(ipAddress), *portValue);
}

void NetworkManager::postStateChange(quint64 attempt, State state, const QString& error) {
    QMetaObject::invokeMethod(
        this,
        [this, attempt, state, error] {
            if (attempt == attempt_) {
                handleStateChange(state, error);
            }
        },
        Qt::QueuedConnection);
}

void NetworkManager::handleStateChange(State state, const QString& error) {
    switch (state) {
    case State::waiting:
        setConnectionStatus(QStringLiteral("Waiting..."));
        consoleLine(("Waiting for connection: " + error).toStdString());
        break;
    case State::failed: {
        attemptEnded_ = true;
        setIsConnected(false);
        setConnectionStatus(QStringLiteral("Connection Failed"));
        const QString line = QStringLiteral("Connection failed: ") + error;
        consoleLine(line.toStdString());
        showError(line);
        break;
    }
    case State::preparing:
        setConnectionStatus(QStringLiteral("Preparing..."));
        break;
    case State::ready:
        setIsConnected(true);
        setConnectionStatus(QStringLiteral("Connected"));
        consoleLine("Network printer connected successfully");
        break;
    case State::cancelled:
        setIsConnected(false);
        setConnectionStatus(QStringLiteral("Connection Cancelled"));
        break;
    case State::setup:
    default:
        setConnectionStatus(kNotConnected);
        break;
    }
}

void NetworkManager::checkTimeout(quint64 attempt) {
    // Only the attempt that scheduled this check, and only while it is still pending: a newer
    // attempt, a failure already reported, or the user's own disconnect all end it.
    if (attempt != attempt_ || attemptEnded_ || isConnected_) {
        return;
    }
    setConnectionStatus(QStringLiteral("Connection Timeout"));
    showError(QStringLiteral(
        "Connection timeout, please check if printer is on or network is available"));
    disconnect();
}

void NetworkManager::disconnect() {
    if (socket_) {
        cancelSocket();
    }
    attemptEnded_ = true;
    setIsConnected(false);
    setConnectionStatus(kNotConnected);
}

void NetworkManager::cancelSocket() {
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    QObject::disconnect(socket, nullptr, this, nullptr);
    // Close gracefully so that bytes already handed over still reach the printer, but never
    // wait long for a peer that does not read.
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(5000, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    }
    postStateChange(attempt_, State::cancelled);
}

void NetworkManager::sendData(const protocol::Bytes& bytes, DeliveryHandler onReport,
                              bool /*reportSuccess*/, ProgressHandler onProgress) {
    const auto total = static_cast<qint64>(bytes.size());
    if (!isConnected_ || !socket_) {
        const QString text = QStringLiteral("Printer not connected, please connect first");
        if (!isConnected_) {
            showError(text);
        }
        reportLater(this, std::move(onReport), DeliveryReport::failure(text, 0, total));
        return;
    }
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
    if (socket_->write(data) < 0) {
        const QString text = QStringLiteral("Failed to send command: ") + socket_->errorString();
        showError(text);
        reportLater(this, std::move(onReport), DeliveryReport::failure(text, 0, total));
        return;
    }
    deliveries_->add(total, std::move(onReport), std::move(onProgress));
}

void NetworkManager::setIsConnected(bool connected) {
    if (connected != isConnected_) {
        isConnected_ = connected;
        emit isConnectedChanged();
        emit linkUpChanged();
    }
}

void NetworkManager::setConnectionStatus(const QString& status) {
    if (status != connectionStatus_) {
        connectionStatus_ = status;
        emit connectionStatusChanged();
    }
}

} // namespace connection
