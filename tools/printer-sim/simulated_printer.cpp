#include "tools/printer-sim/simulated_printer.hpp"

#include "tools/printer-sim/tcp_listener.hpp"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>

#include <unistd.h>

namespace printer_sim {

namespace {

// Bounds what Qt buffers per connection between two reads; the decoder bounds the rest.
constexpr qint64 kReadBufferBytes = qint64{64} * 1024;

// An IPv4 peer of a dual-stack listener shows as the IPv4 address it is.
std::string peerText(QHostAddress address, quint16 port) {
    bool mapped = false;
    const auto ipv4 = address.toIPv4Address(&mapped);
    if (mapped) {
        address = QHostAddress(ipv4);
    }
    return endpointText(address.toString().toStdString(), port);
}

} // namespace

SimulatedPrinter::SimulatedPrinter(int number, TcpListener* listener, const OutputLines& lines,
                                   LineSink sink, QObject* parent)
    : QObject(parent), number_(number), listener_(listener), lines_(lines), sink_(std::move(sink)) {
    // Children outlive this object's signal connections, so no socket signal can reach a
    // half-destroyed printer.
    if (listener_ != nullptr) {
        listener_->setParent(this);
        connect(listener_, &TcpListener::accepted, this, &SimulatedPrinter::accept);
    }
}

SimulatedPrinter::~SimulatedPrinter() {
    if (serialFd_ >= 0) {
        close(serialFd_);
    }
}

void SimulatedPrinter::takeSerialLine(int masterFd) {
    serialFd_ = masterFd;
    serialNotifier_ = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(serialNotifier_, &QSocketNotifier::activated, this, &SimulatedPrinter::readSerialLine);
}

void SimulatedPrinter::readSerialLine() {
    std::uint8_t buffer[4096];
    const ssize_t count = read(serialFd_, buffer, sizeof buffer);
    if (count > 0) {
        report(serialSession_.peer,
               serialSession_.decoder.feed(buffer, static_cast<std::size_t>(count)));
    } else if (count < 0 && errno != EINTR && errno != EAGAIN) {
        // The sim keeps the slave side open itself, so this is not a hang-up but a broken line.
        serialNotifier_->setEnabled(false);
    }
}

void SimulatedPrinter::accept(int descriptor, const QHostAddress& peerAddress, quint16 peerPort) {
    const auto peer = peerText(peerAddress, peerPort);
    sink_(lines_.event(number_, peer, PeerEvent::connected));
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        // Gone before it could be taken on: it still came and went.
        close(descriptor);
        delete socket;
        sink_(lines_.event(number_, peer, PeerEvent::disconnected));
        return;
    }
    socket->setReadBufferSize(kReadBufferBytes);
    sessions_.try_emplace(socket, Session{peer, {}});
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { end(socket); });
}

void SimulatedPrinter::readFrom(QTcpSocket* socket) {
    const auto it = sessions_.find(socket);
    if (it == sessions_.end()) {
        return;
    }
    while (socket->bytesAvailable() > 0) {
        const QByteArray data = socket->read(kReadBufferBytes);
        if (data.isEmpty()) {
            break;
        }
        report(it->second.peer,
               it->second.decoder.feed(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                       static_cast<std::size_t>(data.size())));
    }
}

void SimulatedPrinter::end(QTcpSocket* socket) {
    readFrom(socket);
    auto node = sessions_.extract(socket);
    if (node.empty()) {
        return;
    }
    Session session = std::move(node.mapped());
    report(session.peer, session.decoder.finish());
    sink_(lines_.event(number_, session.peer, PeerEvent::disconnected));
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void SimulatedPrinter::closeConnections() {
    while (!sessions_.empty()) {
        end(sessions_.begin()->first);
    }
    if (serialFd_ >= 0) {
        report(serialSession_.peer, serialSession_.decoder.finish());
    }
}

void SimulatedPrinter::report(const std::string& peer,
                              const std::vector<protocol::DecodedCommand>& commands) {
    for (const auto& command : commands) {
        sink_(lines_.command(number_, peer, command));
        pending_.record(command);
    }
}

void SimulatedPrinter::printPendingSettings() const {
    for (const auto& line : lines_.pendingSettings(number_, pending_.inOrder())) {
        sink_(line);
    }
}

} // namespace printer_sim
