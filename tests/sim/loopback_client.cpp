#include "tests/sim/loopback_client.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace sim_testing {

namespace {

std::runtime_error failure(const char* what) {
    return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

LoopbackClient::LoopbackClient(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw failure("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const auto error = failure("connect");
        close(fd_);
        throw error;
    }
    // Each send() leaves as its own segment, so split frames really arrive split.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    peer_ = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
}

LoopbackClient::~LoopbackClient() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void LoopbackClient::send(const protocol::Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw failure("send");
        }
        sent += static_cast<std::size_t>(n);
    }
}

void LoopbackClient::finishSending() {
    shutdown(fd_, SHUT_WR);
}

void LoopbackClient::reset() {
    const linger abortive{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(fd_);
    fd_ = -1;
}

std::optional<std::size_t>
LoopbackClient::bytesReceivedUntilClosed(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t received = 0;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{fd_, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(std::max<long>(left.count(), 0)));
        if (ready == 0) {
            return std::nullopt;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw failure("poll");
        }
        char buffer[4096];
        const auto n = recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return received; // closed, by FIN or by RST
        }
    }
}

} // namespace sim_testing
