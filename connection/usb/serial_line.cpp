#include "connection/usb/serial_line.hpp"

#include <cerrno>
#include <fcntl.h>
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
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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
    (void)ioctl(fd, TIOCEXCL);
    configure(fd);
    return {fd, 0};
}

void closeLine(int fd) {
    if (fd < 0) {
        return;
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

std::optional<QString> writeAll(int fd, const protocol::Bytes& bytes, WriteFunction write) {
    if (fd < 0) {
        return QStringLiteral("USB printer not connected");
    }
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + offset, bytes.size() - offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return QStringLiteral("USB send failed: ") + systemErrorText(errno);
        }
        if (written == 0) {
            // Counting this as delivered would report bytes the printer never got.
            return QStringLiteral("USB send failed: the device accepted no data (%1 of %2 bytes "
                                  "written)")
                .arg(offset)
                .arg(bytes.size());
        }
        offset += static_cast<std::size_t>(written);
    }
    return std::nullopt;
}

} // namespace connection::serial
