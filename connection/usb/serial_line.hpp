#pragma once

#include "protocol/bytes.hpp"

#include <QString>
#include <optional>
#include <unistd.h>

// A USB serial line to the printer: a raw 115200-baud 8N1 line that is only ever written.
namespace connection::serial {

inline constexpr int kBaudRate = 115200;

struct OpenResult {
    int fd = -1;   // the open line, or -1
    int error = 0; // errno of the failed open
};

// Opens `path` for exclusive use and configures it: raw, 8 data bits, no parity, one stop bit,
// receiver on, modem lines ignored, 115200 both ways, reads return after 0.1 s, writes block.
OpenResult openLine(const QString& path);

// Gives up exclusive use and closes the line.
void closeLine(int fd);

// Whether the device can be opened at all (busy or inaccessible ports are not offered).
// Returns 0, or the errno of the failed open.
int probe(const QString& path);

// Writes every byte, retrying interrupted writes. Nothing on success, else the alert text.
// `write` is the system call unless a test needs a device that misbehaves in ways a terminal
// cannot be made to.
using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);
std::optional<QString> writeAll(int fd, const protocol::Bytes& bytes,
                                WriteFunction write = ::write);

} // namespace connection::serial
