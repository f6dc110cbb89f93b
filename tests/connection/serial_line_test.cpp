// The serial line on a real pseudo-terminal: what the printer side receives, how the line is
// set up, and what a printer that stops taking data does to a send.
#include "connection/usb/serial_line.hpp"
#include "connection/usb/serial_ports.hpp"
#include "tests/support/pty.hpp"
#include "tests/support/wait_limit.hpp"

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

int openLine(const Pty& pty) {
    const serial::OpenResult line = serial::openLine(QString::fromStdString(pty.slavePath()));
    EXPECT_GE(line.fd, 0) << line.error;
    return line.fd;
}

// A probe gives the errno of the open it tries: 0 for a line nobody holds yet.
TEST(SerialLine, ProbesAndOpensRaw115200EightNOneForExclusiveUse) {
    Pty pty;
    EXPECT_EQ(serial::probe("/dev/ttyUSB-missing-for-test"), ENOENT);
    EXPECT_EQ(serial::probe(QString::fromStdString(pty.slavePath())), 0);
    const int fd = openLine(pty);
    ASSERT_GE(fd, 0);

    termios settings{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &settings), 0); // a master reports its slave's settings
    EXPECT_EQ(cfgetispeed(&settings), B115200);
    EXPECT_EQ(cfgetospeed(&settings), B115200);
    // Eight data bits, no parity, one stop bit, receiver on, modem lines ignored.
    EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CREAD | CLOCAL),
              static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 1);
    // Writes wait for the device in writeAll, with a deadline, not in the kernel.
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);

    // The flag belongs to the terminal: the test's own earlier descriptor sees it (opening the
    // line again to look would be refused to anyone but root).
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty.slaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    serial::closeLine(fd);
    ASSERT_EQ(ioctl(pty.slaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

// A terminal buffers a few KiB: the writer waits until the printer side reads.
TEST(SerialLine, DeliversExactBytes) {
    for (const std::size_t size : {1, 4097, 64 * 1024}) {
        Pty pty;
        const int fd = openLine(pty);
        const protocol::Bytes sent = pattern(size);
        serial::WriteResult result;
        std::thread writer([&] { result = serial::writeAll(fd, sent); });
        EXPECT_EQ(pty.read(size, testing_support::kWaitLimit), sent) << size;
        writer.join();
        EXPECT_EQ(result.error, std::nullopt) << size;
        EXPECT_EQ(result.written, size);
        EXPECT_TRUE(pty.nothingElseArrived());
        serial::closeLine(fd);
    }
}

// Devices a terminal cannot be made into, behind a line whose buffer is full (so writeAll waits
// for room in slices, never spinning). One takes 10 bytes at a time after an interruption, then
// stops taking any; the other takes one byte on every second call, so each byte comes one wait
// slice after the last: never idle for the no-progress limit, though all of them take longer.
ssize_t stallingWrite(int, const void*, std::size_t size) {
    static int calls = 0;
    ++calls;
    if (calls == 1) {
        errno = EINTR;
        return -1;
    }
    return calls <= 3 ? static_cast<ssize_t>(std::min<std::size_t>(size, 10)) : 0;
}

ssize_t slowWrite(int, const void*, std::size_t) {
    static int calls = 0;
    if (++calls % 2 == 1) {
        errno = EAGAIN;
        return -1;
    }
    return 1;
}

TEST(SerialLine, WriteResults) {
    int full[2];
    ASSERT_EQ(pipe2(full, O_NONBLOCK), 0);
    const std::vector<char> filler(64 * 1024);
    while (::write(full[1], filler.data(), filler.size()) > 0) {
    }
    struct Case {
        int fd;
        protocol::Bytes bytes;
        serial::WriteFunction write;
        std::optional<QString> error;
        std::size_t written = 0;
        std::chrono::milliseconds limit = 15s;
    };
    const Case cases[] = {
        {full[0], {}, ::write, std::nullopt},                               // nothing to write
        {full[0], {0x12}, ::write, "USB send failed: Bad file descriptor"}, // the reading end
        {-1, {0x12}, ::write, "USB printer not connected"},
        // Bytes the device never took are never counted as delivered.
        {full[1], pattern(25), stallingWrite,
         "USB send failed: the printer took no data for 1 s (20 of 25 bytes written)", 20, 1s},
        // Each byte taken starts the no-progress limit again.
        {full[1], pattern(8), slowWrite, std::nullopt, 8, 400ms},
    };
    for (const Case& c : cases) {
        const auto result = serial::writeAll(c.fd, c.bytes, {c.limit, {}}, c.write);
        EXPECT_EQ(result.error, c.error) << c.bytes.size();
        EXPECT_EQ(result.written, c.written) << c.bytes.size();
    }
    ::close(full[0]);
    ::close(full[1]);
}

TEST(SerialPorts, MacCalloutRule) {
    for (const char* path :
         {"/dev/cu.usbserial-1410", "/dev/cu.SLAB_USBtoUART", "/dev/cu.usbmodem1101",
          "/dev/cu.CP2102N", "/dev/cu.FT232R", "/dev/cu.CH340", "/dev/cu.PL2303-0001"}) {
        EXPECT_TRUE(isMacUsbSerialCallout(path)) << path;
    }
    for (const char* path :
         {"/dev/tty.usbserial-1410", "/dev/cu.Bluetooth-Incoming-Port", "/dev/ttyUSB0"}) {
        EXPECT_FALSE(isMacUsbSerialCallout(path)) << path;
    }
}

} // namespace
