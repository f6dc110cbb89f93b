#pragma once

#include "protocol/bytes.hpp"

#include <chrono>
#include <string>

namespace testing_support {

// A real pseudo-terminal: code under test opens `slavePath()` as its serial line, the test
// reads what arrives at the master.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }
    // The test's own descriptor of the slave side, open since before the code under test came.
    int slaveFd() const { return slave_; }

    // Reads until `count` bytes came or `limit` passed; returns what came.
    protocol::Bytes read(std::size_t count, std::chrono::milliseconds limit);
    // True when the next byte to arrive is a marker written on the printer side now: nothing
    // written to the line before this call is still unread (each write is over by then).
    bool nothingElseArrived();

private:
    int master_ = -1;
    int slave_ = -1; // held so the line does not hang up while the code under test reopens it
    std::string slavePath_;
};

} // namespace testing_support
