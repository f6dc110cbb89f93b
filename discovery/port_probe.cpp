#include "discovery/port_probe.hpp"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace discovery {

// Our own socket rather than QTcpSocket: the probe must tell the peer's and the network's
// answers (refused, unreachable) from this computer's own failures (no descriptor left), and
// Qt reports both with texts that do not name the cause.
struct PortProbe::Attempt {
    int fd = -1;
    QHostAddress address;
    QSocketNotifier* writable = nullptr;
    QTimer* deadline = nullptr;
    bool late = false; // past its time-out, kept open to see whether it still connects
};

namespace {

// What the network or the address answered: the address was tried.
bool isPeerAnswer(int error) {
    switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
    case ECONNABORTED:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN:
    case ETIMEDOUT:
        return true;
    default:
        return false;
    }
}

QString causeOf(int error) {
    auto text = QString::fromLocal8Bit(std::strerror(error));
    if (error == EMFILE) {
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            text += QStringLiteral(" (this process may have %1 open; ulimit -n raises it)")
                        .arg(limit.rlim_cur);
        }
    }
    return text;
}

// Whether a non-blocking connect has completed successfully by now, asking the kernel.
bool connectedNow(int fd) {
    pollfd ready{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    return ::poll(&ready, 1, 0) == 1 &&
           ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

} // namespace

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
    answeredLate_.clear();
    failure_.clear();
    total_ = static_cast<int>(waiting_.size());
    running_ = true;
    // Even an empty probe reports from the event loop, as every other one does.
    QMetaObject::invokeMethod(this, &PortProbe::launchMore, Qt::QueuedConnection);
}

void PortProbe::cancel() {
    running_ = false;
    waiting_.clear();
    // The descriptors go first: after EMFILE, whatever runs next may need one.
    for (const auto& attempt : attempts_) {
        ::close(std::exchange(attempt->fd, -1));
    }
    while (!attempts_.empty()) {
        close(attempts_.front().get());
    }
}

void PortProbe::launchMore() {
    // A connection can fail inside connect() (no route, for one); its decision lands here
    // again, and the loop below carries on instead of recursing.
    if (launching_ || !running_) {
        return;
    }
    launching_ = true;
    while (running_ && !waiting_.empty() && connecting_ < options_.maxConcurrent) {
        const auto address = waiting_.front();
        waiting_.pop_front();
        launch(address);
    }
    launching_ = false;
    if (running_ && waiting_.empty() && attempts_.empty()) {
        running_ = false;
        emit finished();
    }
}

void PortProbe::launch(const QHostAddress& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(QStringLiteral("cannot open a socket"), errno);
        return;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(options_.port);
    peer.sin_addr.s_addr = htonl(address.toIPv4Address());
    const int error =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ? 0 : errno;
    if (error != EINPROGRESS) {
        ::close(fd);
        decide(address, error);
        return;
    }
    auto& attempt = *attempts_.emplace_back(std::make_unique<Attempt>());
    attempt.fd = fd;
    attempt.address = address;
    attempt.writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(attempt.writable, &QSocketNotifier::activated, this,
            [this, a = &attempt] { onWritable(a); });
    attempt.deadline = new QTimer(this);
    attempt.deadline->setSingleShot(true);
    // A coarse timer may fire early, and an early end would miss a slow printer.
    attempt.deadline->setTimerType(Qt::PreciseTimer);
    connect(attempt.deadline, &QTimer::timeout, this, [this, a = &attempt] { onDeadline(a); });
    attempt.deadline->start(options_.timeout);
    ++connecting_;
}

void PortProbe::onWritable(Attempt* attempt) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(attempt->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
    }
    const auto address = attempt->address;
    const bool late = attempt->late;
    // Closed at once: the printer sees a connection and its end, never a byte.
    close(attempt);
    if (!late) {
        decide(address, error);
        return;
    }
    if (error == 0) {
        answeredLate_.push_back(address);
    }
    launchMore();
}

void PortProbe::onDeadline(Attempt* attempt) {
    if (!attempt->late) {
        attempt->late = true;
        --connecting_;
        attempt->deadline->start(options_.timeout);
        decide(attempt->address, ETIMEDOUT, true);
        return;
    }
    // Whatever order the two events come in, the kernel knows whether the connection came.
    if (connectedNow(attempt->fd)) {
        answeredLate_.push_back(attempt->address);
    }
    close(attempt);
    launchMore();
}

void PortProbe::decide(const QHostAddress& address, int error, bool timedOut) {
    if (error != 0 && !isPeerAnswer(error)) {
        fail(QStringLiteral("cannot connect to %1").arg(address.toString()), error);
        return;
    }
    ++tried_;
    if (timedOut) {
        ++timedOut_;
    } else if (error == 0) {
        emit found(address, options_.port);
    }
    emit progress(tried_, total_);
    launchMore();
}

void PortProbe::close(Attempt* attempt) {
    const auto it = std::find_if(attempts_.begin(), attempts_.end(),
                                 [&](const auto& open) { return open.get() == attempt; });
    if (it == attempts_.end()) {
        return;
    }
    // Their own signal may be what brought us here: they go from the event loop.
    attempt->writable->setEnabled(false);
    attempt->writable->disconnect(this);
    attempt->writable->deleteLater();
    attempt->deadline->stop();
    attempt->deadline->disconnect(this);
    attempt->deadline->deleteLater();
    if (attempt->fd >= 0) {
        ::close(attempt->fd);
    }
    if (!attempt->late) {
        --connecting_;
    }
    attempts_.erase(it);
}

void PortProbe::fail(const QString& what, int error) {
    const bool wasRunning = running_;
    cancel();
    if (wasRunning) {
        failure_ = what + QStringLiteral(": ") + causeOf(error);
        emit finished();
    }
}

} // namespace discovery
