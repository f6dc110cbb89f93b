#pragma once

#include "connection/console.hpp"

#include <QString>

#include <string>
#include <vector>

// Loopback peers for transport tests, and a console capture.
namespace testing_support {

// A port on 127.0.0.1 that takes no connection: its listen queue (length 0) is already held by
// one connection nobody accepts, so the kernel drops further SYNs and a connect stays pending
// until it is given up.
class SilentEndpoint {
public:
    SilentEndpoint();
    ~SilentEndpoint();
    quint16 port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    quint16 port_ = 0;
};

// A listening socket that accepts but never reads, so a sender's buffers fill up.
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    quint16 port() const { return port_; }
    // Accepts the pending connection, if one is there.
    bool accept();
    // Closes the accepted connection with a reset (RST), not an orderly close.
    void reset();

private:
    int listener_ = -1;
    int peer_ = -1;
    quint16 port_ = 0;
};

// A port that nobody listens on (bound once, then released), for refused connections.
quint16 closedPort();

class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    connection::ConsoleSink previous_;
};

} // namespace testing_support
