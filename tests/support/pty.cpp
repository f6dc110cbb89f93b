#include "tests/support/pty.hpp"
#include "tests/support/wait_limit.hpp"

#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace testing_support {

Pty::Pty() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    slavePath_ = name;
    // The master side must not translate what the printer side receives.
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
}

Pty::~Pty() {
    ::close(master_);
    ::close(slave_);
}

protocol::Bytes Pty::read(std::size_t count, std::chrono::milliseconds limit) {
    protocol::Bytes received;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{master_, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - received.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        received.insert(received.end(), buffer, buffer + n);
    }
    return received;
}

bool Pty::nothingElseArrived() {
    // The line keeps the order of writes, so the marker comes after anything written before it.
    const std::uint8_t marker = 0xA5;
    return ::write(slave_, &marker, 1) == 1 && read(1, kWaitLimit) == protocol::Bytes{marker};
}

} // namespace testing_support
