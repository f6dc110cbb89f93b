#include "discovery/port_probe.hpp"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace discovery {

PortProbe::PortProbe(QObject* parent) : QObject(parent) {}

PortProbe::~PortProbe() {
    cancel();
}

void PortProbe::start(std::vector<QHostAddress> addresses, const ProbeOptions& options) {
    cancel();
    options_ = options;
    options_.maxConcurrent = std::max(1, options_.maxConcurrent);
    waiting_.assign(addresses.begin(), addresses.end());
    tried_ = 0;
    timedOut_ = 0;
    total_ = static_cast<int>(waiting_.size());
    running_ = true;
    // Even an empty probe reports from the event loop, as every other one does.
    QMetaObject::invokeMethod(this, &PortProbe::launchMore, Qt::QueuedConnection);
}

void PortProbe::cancel() {
    running_ = false;
    waiting_.clear();
    for (auto* socket : std::exchange(inFlight_, {})) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void PortProbe::launchMore() {
    // A connection can fail inside connectToHost (no route, for one); its finish() lands here
    // again, and the loop below carries on instead of recursing.
    if (launching_ || !running_) {
        return;
    }
    launching_ = true;
    while (running_ && !waiting_.empty() &&
           static_cast<int>(inFlight_.size()) < options_.maxConcurrent) {
        const auto address = waiting_.front();
        waiting_.pop_front();
        launch(address);
    }
    launching_ = false;
    if (running_ && waiting_.empty() && inFlight_.empty()) {
        running_ = false;
        emit finished();
    }
}

void PortProbe::launch(const QHostAddress& address) {
    auto* socket = new QTcpSocket(this);
    inFlight_.push_back(socket);
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    // A coarse timer may fire early, and an early end would miss a slow printer.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this,
            [this, socket, address] { finish(socket, address, Outcome::timedOut); });
    connect(socket, &QTcpSocket::connected, this,
            [this, socket, address] { finish(socket, address, Outcome::connected); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket, address] { finish(socket, address, Outcome::failed); });
    timer->start(options_.timeout);
    socket->connectToHost(address, options_.port);
}

void PortProbe::finish(QTcpSocket* socket, QHostAddress address, Outcome outcome) {
    const auto it = std::find(inFlight_.begin(), inFlight_.end(), socket);
    if (it == inFlight_.end()) {
        return;
    }
    inFlight_.erase(it);
    socket->disconnect(this);
    // Closed at once: the printer sees a connection and its end, never a byte.
    socket->abort();
    socket->deleteLater();
    ++tried_;
    if (outcome == Outcome::timedOut) {
        ++timedOut_;
    }
    if (outcome == Outcome::connected) {
        emit found(address, options_.port);
    }
    emit progress(tried_, total_);
    launchMore();
}

} // namespace discovery
