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
#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace connection {

// The bytes handed to one socket, and who waits to hear of them. A send is delivered once the
// printer's TCP stack has acknowledged its last byte (the socket's send queue has drained past
// it): bytes the local kernel merely accepted may still be lost with the link, and a printer that
// stops reading would otherwise be reported as having taken megabytes it never saw. A send during
// which nothing moves for the transport's limit fails, with how far it got. The object lives as
// long as its socket, also after the manager let go of it: a closing socket still reports on what
// was queued before, and closes once that is settled.
class SocketDeliveries : public QObject {
public:
    SocketDeliveries(QTcpSocket* socket, std::chrono::milliseconds noProgressLimit)
        : QObject(socket), socket_(socket), noProgressLimit_(noProgressLimit) {
        QObject::connect(socket, &QIODevice::bytesWritten, this, [this](qint64 count) {
            written_ += count;
            poll();
        });
        QObject::connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
            failAll(QStringLiteral("Failed to send command: ") + socket->errorString());
        });
        // Acknowledgements raise no signal: while sends are pending the queue is read often
        // enough that a command is reported within milliseconds of the printer's answer.
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kPollInterval);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    }
    ~SocketDeliveries() override {
        onIdle_ = nullptr; // the socket is going: nothing may close it now
        failAll(QStringLiteral("Failed to send command: the connection closed before the printer "
                               "took the bytes"));
    }
    SocketDeliveries(const SocketDeliveries&) = delete;
    SocketDeliveries& operator=(const SocketDeliveries&) = delete;

    void add(qint64 size, DeliveryHandler handler, ProgressHandler progress) {
        if (pending_.empty()) {
            lastProgress_ = Clock::now();
            timer_.start();
        }
        pending_.push_back({queued_, queued_ + size, std::move(handler), std::move(progress)});
        queued_ += size;
        if (size == 0) {
            // Nothing to wait for, but the report still comes after the caller has returned.
            QMetaObject::invokeMethod(
                this, [this] { poll(); }, Qt::QueuedConnection);
        }
    }

    bool idle() const { return pending_.empty(); }
    // Runs once nothing is pending any more (at once when nothing is).
    void whenIdle(std::function<void()> work) {
        onIdle_ = std::move(work);
        if (idle()) {
            runIdle();
        }
    }
    // The printer took nothing for the limit: every pending send has failed.
    std::function<void(const QString& error)> onStuck;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPollInterval{5};

    struct Pending {
        qint64 start;
        qint64 end;
        DeliveryHandler handler;
        ProgressHandler progress;
    };

    // Bytes the printer has acknowledged: what reached the kernel less what it still holds.
    qint64 acknowledged() const {
        int unacknowledged = 0;
        const qintptr fd = socket_->socketDescriptor();
        if (fd < 0 || ioctl(static_cast<int>(fd), SIOCOUTQ, &unacknowledged) != 0) {
            return acknowledged_;
        }
        return std::max(acknowledged_, written_ - unacknowledged);
    }

    void poll() {
        const qint64 acked = acknowledged();
        if (acked != acknowledged_ || written_ != lastWritten_) {
            acknowledged_ = acked;
            lastWritten_ = written_;
            lastProgress_ = Clock::now();
        }
        // The send being taken now has moved on.
        if (!pending_.empty() && pending_.front().progress &&
            acknowledged_ > pending_.front().start && acknowledged_ < pending_.front().end) {
            const Pending& current = pending_.front();
            current.progress(acknowledged_ - current.start, current.end - current.start);
        }
        while (!pending_.empty() && pending_.front().end <= acknowledged_) {
            Pending done = std::move(pending_.front());
            pending_.pop_front();
            if (done.handler) {
                done.handler(DeliveryReport::success(done.end - done.start));
            }
        }
        if (pending_.empty()) {
            runIdle();
        } else if (Clock::now() - lastProgress_ >= noProgressLimit_) {
            const QString error =
                QStringLiteral("Failed to send command: ") + noProgressText(noProgressLimit_);
            failAll(error);
            if (onStuck) {
                onStuck(error);
            }
        }
    }

    void failAll(const QString& error) {
        timer_.stop();
        while (!pending_.empty()) {
            Pending lost = std::move(pending_.front());
            pending_.pop_front();
            if (lost.handler) {
                const qint64 size = lost.end - lost.start;
                const qint64 sent = std::clamp(acknowledged_ - lost.start, qint64{0}, size);
                lost.handler(DeliveryReport::failure(error + bytesOfText(sent, size), sent, size));
            }
        }
        runIdle();
    }

    void runIdle() {
        timer_.stop();
        if (onIdle_) {
            std::exchange(onIdle_, nullptr)();
        }
    }

    QTcpSocket* socket_;
    std::chrono::milliseconds noProgressLimit_;
    QTimer timer_;
    std::deque<Pending> pending_;
    std::function<void()> onIdle_;
    qint64 queued_ = 0;
    qint64 written_ = 0;
    qint64 lastWritten_ = 0;
    qint64 acknowledged_ = 0;
    Clock::time_point lastProgress_ = Clock::now();
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

void NetworkManager::connectTo(const Target& target) {
    connect(target.address, target.port);
}

void NetworkManager::connect(const QString& ipAddress, const QString& port) {
    beginConnect();
    if (const auto error = validateEndpoint(ipAddress, port)) {
        showError(*error);
        endConnect(false, *error);
        return;
    }
    const auto portValue = portNumber(port);
    if (!portValue) { // cannot happen after validation; kept as the last guard before the socket
        showError(QStringLiteral("Invalid Port"));
        endConnect(false, QStringLiteral("Invalid Port"));
        return;
    }

    // An attempt still pending is given up first; whatever it reports later is ignored.
    if (socket_) {
        cancelSocket(false);
    }
    const quint64 attempt = ++attempt_;
    attemptEnded_ = false;

    QMetaObject::invokeMethod(
        this, [this] { setConnectionStatus(QStringLiteral("Connecting...")); },
        Qt::QueuedConnection);

    auto* socket = new QTcpSocket(this);
    socket_ = socket;
    QObject::connect(socket, &QAbstractSocket::stateChanged, this,
                     [this, attempt, socket](QAbstractSocket::SocketState state) {
                         if (state == QAbstractSocket::HostLookupState ||
                             state == QAbstractSocket::ConnectingState) {
                             postStateChange(attempt, State::preparing);
                         } else if (state == QAbstractSocket::ConnectedState) {
                             // Each command leaves in segments of its own, at once: Nagle's
                             // algorithm would hold a small command back for the next one.
                             socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
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
    deliveries_ = new SocketDeliveries(socket, noProgressLimit());
    // A printer that stops taking data fails the send; the link it hangs on goes with it.
    deliveries_->onStuck = [this, attempt](const QString& error) {
        if (attempt == attempt_ && socket_ != nullptr) {
            consoleLine(("Connection failed: " + error).toStdString());
            showError(error);
            cancelSocket(true);
            ++attempt_; // the link is over: what the socket still reports is void
            attemptEnded_ = true;
            setIsConnected(false);
            setConnectionStatus(QStringLiteral("Connection Failed"));
        }
    };
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
        const QString line = QStringLiteral("Connection failed: ") + error;
        // Raised before the link is marked down (this is a posted task already): whoever hears of
        // the link going hears why first.
        raiseNow(line);
        setIsConnected(false);
        setConnectionStatus(QStringLiteral("Connection Failed"));
        consoleLine(line.toStdString());
        endConnect(false, line);
        break;
    }
    case State::preparing:
        setConnectionStatus(QStringLiteral("Preparing..."));
        break;
    case State::ready:
        setIsConnected(true);
        setConnectionStatus(QStringLiteral("Connected"));
        consoleLine("Network printer connected successfully");
        endConnect(true);
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
    const QString text =
        QStringLiteral("Connection timeout, please check if printer is on or network is available");
    setConnectionStatus(QStringLiteral("Connection Timeout"));
    showError(text);
    endConnect(false, text);
    disconnect();
}

void NetworkManager::disconnect() {
    endConnect(false, QStringLiteral("Connection cancelled"));
    if (socket_) {
        cancelSocket(false);
    }
    attemptEnded_ = true;
    setIsConnected(false);
    setConnectionStatus(kNotConnected);
}

void NetworkManager::cancelSocket(bool abortNow) {
    QTcpSocket* socket = std::exchange(socket_, nullptr);
    SocketDeliveries* deliveries = std::exchange(deliveries_, nullptr);
    QObject::disconnect(socket, nullptr, this, nullptr);
    deliveries->onStuck = nullptr;
    if (abortNow) {
        socket->abort();
        socket->deleteLater();
    } else {
        // Bytes already handed over still reach the printer: the socket closes once the printer
        // has taken them, or once their sends failed at the deadline.
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        deliveries->whenIdle([socket] {
            socket->disconnectFromHost();
            if (socket->state() == QAbstractSocket::UnconnectedState) {
                socket->deleteLater();
                return;
            }
            // The closing handshake of a peer that has gone quiet is not waited for long.
            QTimer::singleShot(5000, socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
        });
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
