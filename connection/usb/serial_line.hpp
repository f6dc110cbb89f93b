#pragma once

#include "protocol/bytes.hpp"

#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <unistd.h>

// A USB serial line to the printer: a raw 115200-baud 8N1 line that is only ever written.
namespace connection::serial {

inline constexpr int kBaudRate = 115200;
// A printer that takes no byte for this long (paper out, flow control held) fails the send.
inline constexpr std::chrono::milliseconds kNoProgressLimit{15'000};

struct OpenResult {
    int fd = -1;   // the open line, or -1
    int error = 0; // errno of the failed open
};

// Opens `path` for exclusive use and configures it (ENOTTY: it opened, but is no terminal): raw, 8
// data bits, no parity, one stop bit, receiver on, modem lines ignored, 115200 both ways, reads
// return after 0.1 s, output flushed. The descriptor stays non-blocking: writeAll waits for the
// device itself, with a deadline.
OpenResult openLine(const QString& path);

// Gives up exclusive use and closes the line. With `discardOutput` whatever still waits in the
// driver's output buffer is thrown away first, so the close cannot wait for a printer that takes
// nothing.
void closeLine(int fd, bool discardOutput = false);

// Whether the device can be opened at all (busy or inaccessible ports are not offered).
// Returns 0, or the errno of the failed open.
int probe(const QString& path);

struct WriteResult {
    std::optional<QString> error; // the alert text; nothing when every byte was written
    std::size_t written = 0;
};

struct WriteLimits {
    std::chrono::milliseconds noProgress = kNoProgressLimit;
    std::stop_token stop; // the manager is going away
    // Told how many bytes the device has taken, each time that grows.
    std::function<void(std::size_t taken)> progress = {};
};

// Writes every byte and waits until the driver has sent them all (its output queue is empty),
// waiting while the device takes nothing, and fails when it has taken nothing for
// `limits.noProgress`. `written` counts what the device took. `write` is the system call unless a
// test needs a device that misbehaves in ways a terminal cannot be made to.
using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);
WriteResult writeAll(int fd, const protocol::Bytes& bytes, const WriteLimits& limits = {},
                     WriteFunction write = ::write);

} // namespace connection::serial
