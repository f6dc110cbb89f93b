#include "tests/support/loopback.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace testing_support {

namespace {

std::runtime_error failure(const char* what) {
    return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

sockaddr_in loopback(std::uint16_t port) {
    return {.sin_family = AF_INET,
            .sin_port = htons(port),
            .sin_addr = {htonl(INADDR_LOOPBACK)},
            .sin_zero = {}};
}

std::uint16_t localPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void closeWithReset(int fd) {
    const linger abortive{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(fd);
}

} // namespace

std::uint16_t freePort() {
    return ListeningSocket(1).port();
}

ListeningSocket::ListeningSocket(int backlog, int receiveBuffer) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const auto address = loopback(0);
    if (receiveBuffer > 0) { // inherited by accepted connections; set before the handshake
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, backlog) != 0) {
        throw failure("listen on loopback");
    }
    port_ = localPort(fd_);
}

ListeningSocket::~ListeningSocket() {
    close(fd_);
}

int ListeningSocket::acceptOne() const {
    return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

SilentEndpoint::SilentEndpoint() {
    filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const auto address = loopback(port());
    connect(filler_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

SilentEndpoint::~SilentEndpoint() {
    close(filler_);
}

StalledListener::~StalledListener() {
    if (peer_ >= 0) {
        close(peer_);
    }
}

bool StalledListener::accept() {
    if (peer_ < 0 && (peer_ = listener_.acceptOne()) >= 0) {
        const int small = 4096;
        setsockopt(peer_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    return peer_ >= 0;
}

void StalledListener::reset() {
    closeWithReset(peer_);
    peer_ = -1;
}

LoopbackClient::LoopbackClient(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto address = loopback(port);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const auto error = failure("connect");
        close(fd_);
        throw error;
    }
    // Each send() leaves as its own segment, so split frames really arrive split.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    peer_ = "127.0.0.1:" + std::to_string(localPort(fd_));
}

LoopbackClient::~LoopbackClient() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void LoopbackClient::send(const protocol::Bytes& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) {
            throw failure("send");
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

void LoopbackClient::finishSending() {
    shutdown(fd_, SHUT_WR);
}

void LoopbackClient::reset() {
    closeWithReset(fd_);
    fd_ = -1;
}

std::optional<std::size_t>
LoopbackClient::bytesReceivedUntilClosed(std::chrono::milliseconds limit) {
    // Each read waits at most `limit`: a peer that neither sends nor closes ends the wait.
    const timeval wait{static_cast<time_t>(limit.count() / 1000),
                       static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::size_t received = 0;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd_, buffer, sizeof buffer, 0)) > 0 || (n < 0 && errno == EINTR)) {
        received += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return std::nullopt;
    }
    return received; // closed, by FIN or by RST
}

} // namespace testing_support
