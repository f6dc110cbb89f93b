#include "tools/printer-sim/tcp_listener.hpp"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace printer_sim {

namespace {

// Out of descriptors, accept() fails at once for as long as the backlog is not empty; waiting
// a little instead of retrying keeps the sim from spinning until a connection closes.
constexpr int kAcceptPauseMs = 100;

socklen_t toSockaddr(const QHostAddress& address, quint16 port, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6.sin6_addr, bytes.c, sizeof bytes.c);
        return sizeof v6;
    }
    auto& v4 = reinterpret_cast<sockaddr_in&>(out);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof v4;
}

quint16 portOf(const sockaddr_storage& address) {
    return ntohs(address.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                     : reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

} // namespace

TcpListener::TcpListener(QObject* parent) : QObject(parent) {}

TcpListener::~TcpListener() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool TcpListener::listen(const QHostAddress& address, quint16 port) {
    sockaddr_storage local;
    socklen_t length = toSockaddr(address, port, local);
    fd_ = socket(local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    // Lets a restarted sim take its port back while old connections are still in TIME_WAIT.
    if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd_, reinterpret_cast<const sockaddr*>(&local), length) != 0 ||
        ::listen(fd_, SOMAXCONN) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        error_ = std::strerror(errno);
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
        return false;
    }
    address_ = address;
    port_ = portOf(local);
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TcpListener::acceptAll);
    return true;
}

void TcpListener::acceptAll() {
    while (true) {
        sockaddr_storage peer;
        socklen_t length = sizeof peer;
        const int descriptor =
            accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            emit accepted(descriptor, QHostAddress(reinterpret_cast<const sockaddr*>(&peer)),
                          portOf(peer));
            continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            notifier_->setEnabled(false);
            QTimer::singleShot(kAcceptPauseMs, notifier_, [n = notifier_] { n->setEnabled(true); });
            return;
        }
        switch (errno) {
        // These concern one connection only (Linux passes on a pending network error of the
        // new connection): take the next.
        case ECONNABORTED:
        case EINTR:
        case EPROTO:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case EOPNOTSUPP:
            continue;
        default: // EAGAIN: none left
            return;
        }
    }
}

} // namespace printer_sim
