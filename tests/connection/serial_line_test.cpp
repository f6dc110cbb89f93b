// The serial line on a real pseudo-terminal: what the printer side receives and how the line is
// set up.
#include "connection/usb/serial_line.hpp"
#include "connection/usb/serial_ports.hpp"
#include "tests/support/pty.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

using namespace connection;
using namespace std::chrono_literals;
using testing_support::Pty;

namespace {

protocol::Bytes pattern(std::size_t size) {
    protocol::Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

TEST(SerialLine, OpensRaw115200EightNOneWithBlockingWrites) {
    Pty pty;
    const serial::OpenResult line = serial::openLine(QString::fromStdString(pty.slavePath()));
    ASSERT_GE(line.fd, 0) << line.error;

    termios settings{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &settings), 0); // a master reports its slave's settings
    EXPECT_EQ(cfgetispeed(&settings), B115200);
    EXPECT_EQ(cfgetospeed(&settings), B115200);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(settings.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 1);
    EXPECT_EQ(fcntl(line.fd, F_GETFL) & O_NONBLOCK, 0);

    int exclusive = 0;
    ASSERT_EQ(ioctl(line.fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    // Giving up exclusive use happens on the same terminal another program would open next.
    const int observer = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(observer, 0);
    serial::closeLine(line.fd);
    ASSERT_EQ(ioctl(observer, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(observer);
}

TEST(SerialLine, DeliversExactBytes) {
    for (std::size_t size : {std::size_t{1}, std::size_t{4097}, std::size_t{64 * 1024}}) {
        Pty pty;
        const serial::OpenResult line = serial::openLine(QString::fromStdString(pty.slavePath()));
        ASSERT_GE(line.fd, 0);
        const protocol::Bytes sent = pattern(size);
        std::optional<QString> result;
        // A terminal buffers a few KiB; the writer blocks until the printer side reads.
        std::thread writer([&] { result = serial::writeAll(line.fd, sent); });
        EXPECT_EQ(pty.read(size, 10s), sent) << size;
        writer.join();
        EXPECT_EQ(result, std::nullopt);
        EXPECT_TRUE(pty.staysQuiet(50ms));
        serial::closeLine(line.fd);
    }
}

TEST(SerialLine, PeerClosingMidWriteFailsTheSend) {
    Pty pty;
    const serial::OpenResult line = serial::openLine(QString::fromStdString(pty.slavePath()));
    ASSERT_GE(line.fd, 0);
    std::optional<QString> result;
    std::thread writer([&] { result = serial::writeAll(line.fd, pattern(1 << 20)); });
    ASSERT_EQ(pty.read(100, 10s).size(), 100u);
    pty.closeMaster();
    writer.join();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, "USB send failed: Input/output error");
    serial::closeLine(line.fd);
}

// A write that takes 10 bytes at a time, after one interruption, then stops taking any.
ssize_t stallingWrite(int, const void*, std::size_t size) {
    static int calls = 0;
    ++calls;
    if (calls == 1) {
        errno = EINTR;
        return -1;
    }
    return calls <= 3 ? static_cast<ssize_t>(std::min<std::size_t>(size, 10)) : 0;
}

TEST(SerialLine, WriteResults) {
    const int readOnly = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(readOnly, 0);
    EXPECT_EQ(serial::writeAll(readOnly, {}), std::nullopt) << "nothing to write, no write made";
    EXPECT_EQ(serial::writeAll(readOnly, {0x12}), "USB send failed: Bad file descriptor");
    EXPECT_EQ(serial::writeAll(-1, {0x12}), "USB printer not connected");
    ::close(readOnly);
    EXPECT_EQ(serial::writeAll(3, pattern(25), stallingWrite),
              "USB send failed: the device accepted no data (20 of 25 bytes written)");
}

TEST(SerialLine, OpenAndProbeReportTheSystemError) {
    const QString missing = QStringLiteral("/dev/ttyUSB-missing-for-test");
    EXPECT_EQ(serial::openLine(missing).error, ENOENT);
    EXPECT_EQ(serial::probe(missing), ENOENT);
    Pty pty;
    EXPECT_EQ(serial::probe(QString::fromStdString(pty.slavePath())), 0);
}

TEST(SerialPorts, MacCalloutRule) {
    const std::pair<const char*, bool> cases[] = {
        {"/dev/cu.usbserial-1410", true},
        {"/dev/cu.wchusbserial14230", true},
        {"/dev/cu.SLAB_USBtoUART", true},
        {"/dev/cu.usbmodem1101", true},
        {"/dev/cu.CP2102N", true},
        {"/dev/cu.FT232R", true},
        {"/dev/cu.CH340", true},
        {"/dev/cu.PL2303-0001", true},
        {"/dev/tty.usbserial-1410", false},
        {"/dev/cu.Bluetooth-Incoming-Port", false},
        {"/dev/cu.debug-console", false},
        {"/dev/ttyUSB0", false},
    };
    for (const auto& [path, listed] : cases) {
        EXPECT_EQ(isMacUsbSerialCallout(QString::fromLatin1(path)), listed) << path;
    }
}

} // namespace
