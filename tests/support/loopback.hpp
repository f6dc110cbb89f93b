#pragma once

#include "protocol/bytes.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// Peers on 127.0.0.1 for transport tests, as plain POSIX sockets.
namespace testing_support {

// A port nobody listens on (bound once, then released).
std::uint16_t freePort();

// A listening socket held for the object's lifetime; connections are not accepted unless asked.
class ListeningSocket {
public:
    // A `receiveBuffer` of some kilobytes makes accepted connections take as little as a
    // printer's own buffer before they stop the sender.
    explicit ListeningSocket(int backlog = 4, int receiveBuffer = 0);
    ~ListeningSocket();
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;
    std::uint16_t port() const { return port_; }
    // Accepts a waiting connection without blocking; -1 when none is there.
    int acceptOne() const;

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A port that takes no connection: its listen queue (length 0) is already held by one
// connection nobody accepts, so the kernel drops further SYNs and a connect stays pending.
class SilentEndpoint {
public:
    SilentEndpoint();
    ~SilentEndpoint();
    std::uint16_t port() const { return listener_.port(); }

private:
    ListeningSocket listener_{0};
    int filler_ = -1;
};

// Accepts, but never reads, so that a sender's buffers fill up; its receive buffer is a
// printer's few kilobytes, not the megabytes a kernel would give it.
class StalledListener {
public:
    StalledListener() = default;
    ~StalledListener();
    std::uint16_t port() const { return listener_.port(); }
    bool accept(); // the waiting connection, if one is there
    void reset();  // closes it with RST, not FIN

private:
    ListeningSocket listener_{4, 4096};
    int peer_ = -1;
};

// A plain TCP client on 127.0.0.1, the way a configuration tool talks to a printer.
class LoopbackClient {
public:
    explicit LoopbackClient(std::uint16_t port); // throws when it cannot connect
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // How the peer names this connection: "127.0.0.1:<our port>".
    const std::string& peer() const { return peer_; }
    void send(const protocol::Bytes& bytes);
    // Closes our sending side; the peer sees the end of the stream.
    void finishSending();
    // Closes with RST instead of FIN (SO_LINGER 0), as a crashing peer does.
    void reset();
    // Reads until the peer closes; how many bytes it sent before that, or nothing when it
    // neither sent nor closed within `limit`.
    std::optional<std::size_t> bytesReceivedUntilClosed(std::chrono::milliseconds limit);

private:
    int fd_ = -1;
    std::string peer_;
};

} // namespace testing_support
