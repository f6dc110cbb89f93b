#include "connection/usb/serial_line.hpp"

#include "connection/transport.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace connection::serial {
namespace {

QString systemErrorText(int error) {
    // Thread-safe, unlike strerror: this runs on the I/O thread.
    return qt_error_string(error);
}

void configure(int fd) {
    termios options{};
    if (tcgetattr(fd, &options) == 0) {
        cfmakeraw(&options);
        // Hardware flow control is left as the driver set it: some adapters need it, most
        // printers ignore it.
        options.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | CREAD | CLOCAL);
        options.c_cflag |= CS8 | CREAD | CLOCAL;
        cfsetispeed(&options, B115200);
        cfsetospeed(&options, B115200);
        options.c_cc[VMIN] = 0;
        options.c_cc[VTIME] = 1;
        (void)tcsetattr(fd, TCSANOW, &options);
    }
    (void)tcflush(fd, TCIOFLUSH);
}

} // namespace

OpenResult openLine(const QString& path) {
    // Non-blocking so that a line waiting for carrier cannot hold the open.
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {-1, errno};
    }
    // Only a terminal is a serial line: a regular file, a pipe or another device would take the
    // commands (passwords included) and report them written.
    if (isatty(fd) != 1) {
        ::close(fd);
        return {-1, ENOTTY};
    }
    (void)ioctl(fd, TIOCEXCL);
    configure(fd);
    return {fd, 0};
}

void closeLine(int fd, bool discardOutput) {
    if (fd < 0) {
        return;
    }
    // Only what the driver itself still holds: on a pseudo-terminal a flush would reach into
    // the other side and throw away what was delivered but not yet read there.
    int pending = 0;
    if (discardOutput && ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0) {
        (void)tcflush(fd, TCOFLUSH);
    }
    (void)ioctl(fd, TIOCNXCL);
    ::close(fd);
}

int probe(const QString& path) {
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

WriteResult writeAll(int fd, const protocol::Bytes& bytes, const WriteLimits& limits,
                     WriteFunction write) {
    using Clock = std::chrono::steady_clock;
    if (fd < 0) {
        return {QStringLiteral("USB printer not connected"), 0};
    }
    const auto failed = [&](const QString& why, std::size_t written) {
        return WriteResult{QStringLiteral("USB send failed: %1 (%2 of %3 bytes written)")
                               .arg(why)
                               .arg(written)
                               .arg(bytes.size()),
                           written};
    };
    // Waits in short slices so that a manager going away is noticed at once.
    constexpr std::chrono::milliseconds kSlice{100};
    std::size_t offset = 0;
    auto lastProgress = Clock::now();
    const auto stuck = [&](std::size_t sent) -> std::optional<WriteResult> {
        const auto idle =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress);
        if (idle < limits.noProgress) {
            return std::nullopt;
        }
        return failed(noProgressText(limits.noProgress), sent);
    };
    while (offset < bytes.size()) {
        if (limits.stop.stop_requested()) {
            return failed(QStringLiteral("the connection was closed"), offset);
        }
        const ssize_t written = write(fd, bytes.data() + offset, bytes.size() - offset);
        if (written > 0) {
            offset += static_cast<std::size_t>(written);
            lastProgress = Clock::now();
            if (limits.progress) {
                limits.progress(offset); // ahead by at most what the driver buffers
            }
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return {QStringLiteral("USB send failed: ") + systemErrorText(errno), offset};
        }
        // The driver's buffer is full (or the device took nothing): wait for room.
        if (auto failure = stuck(offset)) {
            return *failure;
        }
        pollfd room{fd, POLLOUT, 0};
        (void)::poll(&room, 1, static_cast<int>(kSlice.count()));
    }
    // Written is not yet sent: the driver still holds what the printer has not taken. Delivered
    // means on the wire, so a close cannot throw any of it away and a report of success is true.
    int pending = 0;
    int lastPending = -1;
    while (ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0) {
        const std::size_t sent = offset - static_cast<std::size_t>(pending);
        if (pending != lastPending) {
            lastPending = pending;
            lastProgress = Clock::now();
            if (limits.progress) {
                limits.progress(sent);
            }
        }
        if (limits.stop.stop_requested()) {
            return failed(QStringLiteral("the connection was closed"), sent);
        }
        if (auto failure = stuck(sent)) {
            return *failure;
        }
        (void)::poll(nullptr, 0, 5);
    }
    return {std::nullopt, offset};
}

} // namespace connection::serial
