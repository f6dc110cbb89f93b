#include "tools/printer-sim/simulated_printer.hpp"

#include "tools/printer-sim/tcp_listener.hpp"

#include <QSocketNotifier>

#include <cerrno>

#include <unistd.h>

namespace printer_sim {

namespace {

// What one connection may read per wake-up before the others get their turn.
constexpr qint64 kReadShareBytes = qint64{256} * 1024;

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
    for (const auto& [descriptor, connection] : connections_) {
        close(descriptor);
    }
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
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connections_.try_emplace(descriptor, Connection{Session{peer, {}}, notifier});
    connect(notifier, &QSocketNotifier::activated, this,
            [this, descriptor] { readFrom(descriptor); });
}

bool SimulatedPrinter::readFrom(int descriptor) {
    const auto it = connections_.find(descriptor);
    if (it == connections_.end()) {
        return false;
    }
    // A bounded share per wake-up keeps one fast peer from starving the others; the notifier
    // wakes again while anything is left.
    std::uint8_t buffer[16384];
    for (qint64 taken = 0; taken < kReadShareBytes;) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count > 0) {
            taken += count;
            report(it->second.session.peer,
                   it->second.session.decoder.feed(buffer, static_cast<std::size_t>(count)));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return false;
        }
        end(descriptor); // the peer closed (0), or the connection broke
        return false;
    }
    return true;
}

void SimulatedPrinter::end(int descriptor) {
    auto node = connections_.extract(descriptor);
    if (node.empty()) {
        return;
    }
    Connection& connection = node.mapped();
    report(connection.session.peer, connection.session.decoder.finish());
    sink_(lines_.event(number_, connection.session.peer, PeerEvent::disconnected));
    connection.notifier->setEnabled(false);
    connection.notifier->deleteLater();
    close(descriptor);
}

void SimulatedPrinter::closeConnections() {
    while (!connections_.empty()) {
        const int descriptor = connections_.begin()->first;
        // What has arrived is the printer's, even when it is stopped before reading it.
        while (readFrom(descriptor)) {
        }
        end(descriptor);
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
