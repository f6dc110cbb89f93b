#include "loopback.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

namespace {

int listenOnLoopback(int backlog, quint16& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

SilentEndpoint::SilentEndpoint() {
    listener_ = listenOnLoopback(0, port_);
    filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

SilentEndpoint::~SilentEndpoint() {
    close(filler_);
    close(listener_);
}

StalledListener::StalledListener() {
    listener_ = listenOnLoopback(4, port_);
    fcntl(listener_, F_SETFL, O_NONBLOCK);
}

StalledListener::~StalledListener() {
    if (peer_ >= 0) {
        close(peer_);
    }
    close(listener_);
}

bool StalledListener::accept() {
    if (peer_ < 0) {
        peer_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer_ >= 0) {
            const int small = 4096;
            setsockopt(peer_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
    }
    return peer_ >= 0;
}

void StalledListener::reset() {
    const linger abortive{1, 0};
    setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(peer_);
    peer_ = -1;
}

quint16 closedPort() {
    quint16 port = 0;
    close(listenOnLoopback(1, port));
    return port;
}

ConsoleCapture::ConsoleCapture()
    : previous_(connection::setConsoleSink(
          [this](std::string_view line) { lines_.emplace_back(line); })) {}

ConsoleCapture::~ConsoleCapture() {
    connection::setConsoleSink(std::move(previous_));
}

} // namespace testing_support
