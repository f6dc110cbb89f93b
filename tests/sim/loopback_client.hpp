#pragma once

#include "protocol/bytes.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace sim_testing {

// A plain TCP client on 127.0.0.1, the way a configuration tool talks to a printer.
class LoopbackClient {
public:
    explicit LoopbackClient(std::uint16_t port); // throws when it cannot connect
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // How the printer names this connection: "127.0.0.1:<our port>".
    const std::string& peer() const { return peer_; }

    void send(const protocol::Bytes& bytes);
    // Closes our sending side; the printer sees the end of the stream.
    void finishSending();
    // Closes with RST instead of FIN (SO_LINGER 0), as a crashing peer does.
    void reset();
    // Reads until the printer closes the connection; how many bytes it sent before that, or
    // nothing when it neither sent nor closed within `limit`.
    std::optional<std::size_t> bytesReceivedUntilClosed(std::chrono::milliseconds limit);

private:
    int fd_ = -1;
    std::string peer_;
};

} // namespace sim_testing
